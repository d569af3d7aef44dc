#pragma once

#include "exchange.h"
#include "setups.h"

#include <QAbstractTableModel>
#include <QContiguousCache>
#include <QTimer>
#include <QWidget>

#include <functional>

class QCheckBox;
class QSortFilterProxyModel;
class QTableView;

// The last exchanges with the instrument, newest last; the oldest go once
// the ring is full. Columns: time, origin, line sent, reply, refusal. New
// exchanges reach the rows ten times a second at most, so an open window
// redraws at a reading pace, not once per exchange.
class CommandJournal : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int capacity = 10000;

    explicit CommandJournal(QObject *parent = nullptr);

    void add(const rfgen::Exchange &exchange);
    void clear();
    const rfgen::Exchange &at(int row) const;
    // Every exchange kept, rows and those still on their way to the rows.
    QList<rfgen::Exchange> exchanges() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QContiguousCache<rfgen::Exchange> ring;
    QList<rfgen::Exchange> incoming;
    QTimer publishTimer;

    void publish();
};

// The non-modal window "Журнал команд": the journal, polls shown on demand,
// cleared, saved as text or copied as a replay script.
class JournalWindow : public QWidget {
    Q_OBJECT
public:
    // script gives the replay script of the exchanges it is handed.
    JournalWindow(CommandJournal &journal,
                  std::function<QString(const QList<rfgen::Exchange> &)> script, QWidget *parent);

    // Writes the shown exchanges as UTF-8 text, one a line; false with the
    // reason when the file could not be written (the old file then stays).
    bool saveTo(const QString &path, QString &why) const;
    void copyScript();

signals:
    // "Сохранить как набор": the settings since "Очистить", to be named.
    void setupAsked(const rfgen::setups::Setup &setup);

private:
    CommandJournal &journal;
    std::function<QString(const QList<rfgen::Exchange> &)> script;
    QSortFilterProxyModel *shown;
    QTableView *view;
    QCheckBox *showPolls;

    void save();
    void followNewRows();
};
