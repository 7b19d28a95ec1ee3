#pragma once

#include "HistoryEvent.h"

#include <QAbstractTableModel>
#include <QVector>

// The rows of the history dialog: the events newest first, narrowed to those whose file name
// (the last part of the remote path, a rename's new path or the local path) contains the
// filter, ignoring case. Texts in English or Chinese.
class HistoryTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Time, Operation, File, LocalPath, Size, Sha256, Outcome, ColumnCount };

    struct Row
    {
        HistoryEvent event;
        QString fileNames; // case-folded, one per line, for the filter
    };

    explicit HistoryTableModel(bool english, QObject *parent = nullptr);

    // The rows of events given in the order of the file, newest first. Pure, and slow for a
    // long history: meant for a worker thread.
    static QVector<Row> newestFirst(QVector<HistoryEvent> events);
    void setRows(QVector<Row> rows);
    void setFilter(const QString &text);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    static QString operationText(HistoryEvent::Operation operation, bool english);
    static QString outcomeText(HistoryEvent::Outcome outcome, bool english);

private:
    void applyFilter();
    QString displayText(const HistoryEvent &event, int column) const;

    const bool m_english;
    QVector<Row> m_rows;
    QVector<int> m_shown; // the rows that pass the filter, as indexes into m_rows
    QString m_filter;
};
