// What a screen reader or voice control gets of the panel: a key's "toggle"
// or "press" acts exactly as a click (Qt's own only flips a checkable key's
// mark, so the RF key would read "on" with the output off), and a read-out
// says what it shows, its value and unit, and whether the value is refused.
#include "app/accessibility.h"

#include <QAccessibleWidget>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>

namespace {

class PanelKey : public QAccessibleWidget {
public:
    explicit PanelKey(QPushButton *key) : QAccessibleWidget(key, QAccessible::Button) {}
    QPushButton *key() const { return static_cast<QPushButton *>(widget()); }

    QStringList actionNames() const override { return {pressAction(), toggleAction()}; }
    void doAction(const QString &) override {
        if (key()->isEnabled())
            key()->click();
    }
    QString text(QAccessible::Text t) const override {
        const QString own = QAccessibleWidget::text(t);
        return t == QAccessible::Name && own.isEmpty() ? key()->text() : own;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = key()->isCheckable();
        s.checked = key()->isChecked();
        return s;
    }
};

class Readout : public QAccessibleWidget {
public:
    explicit Readout(QLCDNumber *display) : QAccessibleWidget(display, QAccessible::StaticText) {}

    // "Частота 163.07 МГц": the caption and unit labels sit beside it in the form.
    QString text(QAccessible::Text t) const override {
        auto *display = static_cast<QLCDNumber *>(widget());
        const QString row = display->objectName().section(QLatin1Char('_'), 1);
        const auto *caption =
            display->window()->findChild<QLabel *>(QStringLiteral("label_") + row);
        const auto *unit = display->window()->findChild<QLabel *>(QStringLiteral("label_") + row +
                                                                  QStringLiteral("Unit"));
        if (t == QAccessible::Name)
            return QStringList{caption ? caption->text() : QString(),
                               QString::number(display->value(), 'g', 10),
                               unit ? unit->text() : QString()}
                .join(QLatin1Char(' '))
                .simplified();
        if (t == QAccessible::Description && !display->isEnabled())
            return QCoreApplication::translate("MainWindow", "не подтверждено прибором");
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *panelInterface(const QString &className, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || !widget->window()->inherits("MainWindow"))
        return nullptr;
    if (className == QLatin1String("QPushButton"))
        return new PanelKey(static_cast<QPushButton *>(widget));
    if (className == QLatin1String("QLCDNumber"))
        return new Readout(static_cast<QLCDNumber *>(widget));
    return nullptr;
}

} // namespace

void installPanelAccessibility() {
    [[maybe_unused]] static const bool installed =
        (QAccessible::installFactory(panelInterface), true);
}
