#include "journalwindow.h"

#include "journal.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <iterator>

using rfgen::Exchange;

namespace {
constexpr int publishIntervalMs = 100;

// The journal's own words, kept as written in its saved file, and shown in
// the panel's language. The client's address follows its word.
const char *const journalWords[] = {
    QT_TRANSLATE_NOOP("CommandJournal", "Клиент"),
    QT_TRANSLATE_NOOP("CommandJournal", "Опрос"),
    QT_TRANSLATE_NOOP("CommandJournal", "Панель"),
    QT_TRANSLATE_NOOP("CommandJournal", "не отправлено"),
    QT_TRANSLATE_NOOP("CommandJournal", "нет ответа"),
    QT_TRANSLATE_NOOP("CommandJournal", "отклонено"),
    QT_TRANSLATE_NOOP("CommandJournal", "соединение закрыто: адрес вне разрешенных сетей"),
};

QString shownField(const Exchange &exchange, int column) {
    static const QHash<QString, const char *> words = [] {
        QHash<QString, const char *> byText;
        for (const char *word : journalWords)
            byText.insert(QString::fromUtf8(word), word);
        return byText;
    }();
    const QString field = rfgen::journal::field(exchange, column);
    if (column == 1 && exchange.origin == Exchange::Origin::Client)
        return CommandJournal::tr("Клиент") + field.mid(field.indexOf(QLatin1Char(' ')));
    const char *word = words.value(field);
    return word ? CommandJournal::tr(word) : field;
}
} // namespace

CommandJournal::CommandJournal(QObject *parent) : QAbstractTableModel(parent), ring(capacity) {
    publishTimer.setSingleShot(true);
    publishTimer.setInterval(publishIntervalMs);
    connect(&publishTimer, &QTimer::timeout, this, &CommandJournal::publish);
}

void CommandJournal::add(const Exchange &exchange) {
    incoming.append(exchange);
    if (incoming.size() >= capacity)
        publish(); // bounded even while no event loop runs
    else if (!publishTimer.isActive())
        publishTimer.start();
}

void CommandJournal::publish() {
    publishTimer.stop();
    if (incoming.isEmpty())
        return;
    const int dropped = std::min(ring.count(), ring.count() + incoming.size() - capacity);
    if (dropped > 0) {
        beginRemoveRows(QModelIndex(), 0, dropped - 1);
        for (int i = 0; i < dropped; ++i)
            ring.removeFirst();
        endRemoveRows();
    }
    if (!ring.areIndexesValid())
        ring.normalizeIndexes();
    beginInsertRows(QModelIndex(), ring.count(), ring.count() + incoming.size() - 1);
    for (const Exchange &e : std::as_const(incoming))
        ring.append(e); // beyond capacity the oldest of them go at once
    endInsertRows();
    incoming.clear();
}

void CommandJournal::clear() {
    beginResetModel();
    ring.clear();
    incoming.clear();
    endResetModel();
}

const Exchange &CommandJournal::at(int row) const {
    return ring.at(ring.firstIndex() + row);
}

QList<Exchange> CommandJournal::exchanges() const {
    QList<Exchange> all;
    const int fromRing = std::max(0, ring.count() + int(incoming.size()) - capacity);
    for (int row = fromRing; row < ring.count(); ++row)
        all << at(row);
    return all + incoming;
}

int CommandJournal::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ring.count();
}

int CommandJournal::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : rfgen::journal::fieldCount;
}

QVariant CommandJournal::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= ring.count())
        return QVariant();
    const Exchange &e = at(index.row());
    if (role == Qt::ForegroundRole && rfgen::journal::refused(e))
        return QColor(Qt::darkRed);
    if (role == Qt::UserRole)
        return e.origin == Exchange::Origin::Poll;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) // a tip shows what is cut off
        return QVariant();
    return shownField(e, index.column());
}

QVariant CommandJournal::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char *const titles[] = {QT_TR_NOOP("Время"), QT_TR_NOOP("Источник"),
                                         QT_TR_NOOP("Команда"), QT_TR_NOOP("Ответ")};
    return section >= 0 && section < int(std::size(titles)) ? tr(titles[section]) : QString();
}

// ------------------------------------------------------------------ window

JournalWindow::JournalWindow(CommandJournal &journal,
                             std::function<QString(const QList<Exchange> &)> script,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), journal(journal), script(std::move(script)),
      shown(new QSortFilterProxyModel(this)), view(new QTableView),
      showPolls(new QCheckBox(tr("Показывать опрос"))) {
    setWindowTitle(tr("Журнал команд"));
    resize(fontMetrics().averageCharWidth() * 120, fontMetrics().height() * 24);
    shown->setSourceModel(&journal);
    shown->setFilterRole(Qt::UserRole);
    shown->setFilterFixedString(QStringLiteral("false")); // polls hidden
    view->setModel(shown);
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics metrics = view->fontMetrics();
    const int padding = metrics.averageCharWidth() * 2;
    view->verticalHeader()->setDefaultSectionSize(metrics.height() + padding / 2);
    view->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + padding);
    view->setColumnWidth(1, metrics.horizontalAdvance(CommandJournal::tr("Клиент") +
                                                      QStringLiteral(" 127.0.0.1:55555")) +
                                padding);
    view->setColumnWidth(2, metrics.averageCharWidth() * 34);
    view->setColumnWidth(3, metrics.averageCharWidth() * 22);
    view->setWordWrap(false);
    connect(showPolls, &QCheckBox::toggled, this, [this](bool on) {
        shown->setFilterFixedString(on ? QString() : QStringLiteral("false"));
        view->scrollToBottom();
    });
    followNewRows();

    auto *clear = new QPushButton(tr("Очистить"));
    auto *saveButton = new QPushButton(tr("Сохранить..."));
    auto *copy = new QPushButton(tr("Копировать как скрипт"));
    auto *asSetup = new QPushButton(tr("Сохранить как набор"));
    connect(clear, &QPushButton::clicked, &journal, &CommandJournal::clear);
    connect(saveButton, &QPushButton::clicked, this, &JournalWindow::save);
    connect(copy, &QPushButton::clicked, this, &JournalWindow::copyScript);
    connect(asSetup, &QPushButton::clicked, this,
            [this] { emit setupAsked(rfgen::journal::setupOf(this->journal.exchanges())); });
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(showPolls);
    buttons->addStretch();
    for (QPushButton *button : {clear, saveButton, copy, asSetup})
        buttons->addWidget(button);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(view);
    layout->addLayout(buttons);
}

// New exchanges scroll into view unless the operator has scrolled back to read.
void JournalWindow::followNewRows() {
    auto atBottom = std::make_shared<bool>(true);
    connect(shown, &QAbstractItemModel::rowsAboutToBeInserted, this, [this, atBottom] {
        const QScrollBar *bar = view->verticalScrollBar();
        *atBottom = bar->value() == bar->maximum();
    });
    connect(shown, &QAbstractItemModel::rowsInserted, this, [this, atBottom] {
        if (*atBottom && isVisible())
            view->scrollToBottom();
    });
}

bool JournalWindow::saveTo(const QString &path, QString &why) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        why = file.errorString();
        return false;
    }
    for (int row = 0; row < shown->rowCount(); ++row) {
        const int source = shown->mapToSource(shown->index(row, 0)).row();
        file.write((rfgen::journal::line(journal.at(source)) + '\n').toUtf8());
    }
    if (!file.commit()) {
        why = file.errorString();
        return false;
    }
    return true;
}

void JournalWindow::save() {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Сохранить журнал"), QStringLiteral("journal.txt"),
                                     tr("Текст (*.txt);;Все файлы (*)"));
    QString why;
    if (!path.isEmpty() && !saveTo(path, why))
        QMessageBox::warning(this, tr("Журнал команд"), tr("Не удалось сохранить журнал: ") + why);
}

void JournalWindow::copyScript() {
    QApplication::clipboard()->setText(script(journal.exchanges()));
}
