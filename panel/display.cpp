#include "panel/display.h"

#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QStyleOptionButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace units {

bool isValid(int code) {
    return code >= Volt && code <= Millisecond;
}

namespace {
const char *const words[] = {"", "V", "mV", "dBm", "dB", "kHz", "MHz", "GHz", "s", "ms"};
}

QString word(int code) {
    return QLatin1String(isValid(code) ? words[code] : "");
}

int fromWord(const QString &word) {
    for (int code = Volt; code <= Millisecond; ++code)
        if (word == QLatin1String(words[code]))
            return code;
    return None;
}

QString label(int code) {
    switch (code) {
    case Volt:
        return QCoreApplication::translate("MainWindow", "В");
    case Millivolt:
        return QCoreApplication::translate("MainWindow", "мВ");
    case DbmV:
        return QStringLiteral("dBmV");
    case Decibel:
        return QStringLiteral("dB");
    case Kilohertz:
        return QCoreApplication::translate("MainWindow", "КГц");
    case Megahertz:
        return QCoreApplication::translate("MainWindow", "МГц");
    case Gigahertz:
        return QCoreApplication::translate("MainWindow", "ГГц");
    case Second:
        // Latin c, as the instrument labels it
        return QCoreApplication::translate("MainWindow", "c", "seconds");
    case Millisecond:
        return QCoreApplication::translate("MainWindow", "мс");
    default:
        return QString();
    }
}

} // namespace units

double roundToThousandth(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

// A key's text also needs the room the style's frame takes, and a little air.
void reserveWidthFor(QWidget *widget, const QStringList &texts) {
    const QFontMetrics metrics = widget->fontMetrics();
    int width = 0;
    for (const QString &text : texts)
        width = std::max(width, metrics.horizontalAdvance(text));
    if (auto *key = qobject_cast<QPushButton *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(key);
        const QRect textArea =
            key->style()->subElementRect(QStyle::SE_PushButtonContents, &option, key);
        width += option.rect.width() - textArea.width() + metrics.averageCharWidth();
    }
    widget->setMinimumWidth(width);
}

namespace {

// How many base units one shown unit is, as a power of ten: kHz 3, mV -3.
// Kept as an exponent so that both directions multiply or divide by an exact
// power of ten (250 мс is exactly 0.25 s).
int decimalExponent(int unit) {
    switch (unit) {
    case units::Millivolt:
    case units::Millisecond:
        return -3;
    case units::Kilohertz:
        return 3;
    case units::Megahertz:
        return 6;
    case units::Gigahertz:
        return 9;
    default:
        return 0;
    }
}

double scaleByPowerOfTen(double value, int exponent) {
    static const double powers[] = {1.0, 1e3, 1e6, 1e9};
    const double factor = powers[std::abs(exponent) / 3];
    return exponent >= 0 ? value * factor : value / factor;
}

} // namespace

double MainWindow::toBaseUnit(double value, int unit) {
    if (!units::isValid(unit)) {
        showPanelMessage(tr("Не выбрана единица измерения"));
        return value;
    }
    if (unit == units::DbmV)
        return std::sqrt(std::pow(10.0, value / 10.0 - 3.0) * 50.0 * 2.0);
    return scaleByPowerOfTen(value, decimalExponent(unit));
}

double MainWindow::fromBaseUnit(double value, int unit) {
    if (!units::isValid(unit)) {
        showPanelMessage(tr("Неправильная единица измерения"));
        return value;
    }
    if (unit == units::DbmV)
        return 10.0 * std::log10(value * value / 100.0 / 0.001);
    return scaleByPowerOfTen(value, -decimalExponent(unit));
}

double MainWindow::activeValueInBase(int unit) {
    return toBaseUnit(activeDisplay->value(), unit);
}

void MainWindow::displayValue(double value, int unit) {
    if (!activeDisplay)
        return;
    if (std::isnan(value)) {
        activeDisplay->display(0);
        activeDisplay->setEnabled(false);
    } else {
        activeDisplay->display(fromBaseUnit(value, unit));
        activeDisplay->setEnabled(true);
    }
    if (!units::isValid(unit)) {
        showPanelMessage(tr("Неправильная единица измерения"));
        return;
    }
    if (activeUnitLabel)
        activeUnitLabel->setText(units::label(unit));
    activeUnit = unit;
}

void MainWindow::clearActive() {
    activeDisplay = nullptr;
    activeUnitLabel = nullptr;
    activeUnit = 0;
}

// The panel's own warnings do not block: the operator keeps working.
void MainWindow::showPanelMessage(const QString &text) {
    errorBox.setText(text);
    errorBox.show();
}
