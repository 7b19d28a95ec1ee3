#pragma once

#include "HistoryTableModel.h"

#include <QDialog>
#include <QFutureWatcher>

class QLabel;

// The history of one controller in a table, newest first, with a filter by file name. The
// file is read and parsed in a worker thread, so that a long history never holds up the
// window. The dialog deletes itself when closed.
class HistoryDialog : public QDialog
{
    Q_OBJECT
public:
    // Only the newest part of a larger file is shown; the file keeps everything.
    static constexpr qint64 kMaxShownBytes = 64 * 1024 * 1024;

    HistoryDialog(const QString &address, bool english, QWidget *parent = nullptr);

signals:
    // The history has been read (or found missing) and the table shows it.
    void historyShown();

private:
    struct Loaded
    {
        QVector<HistoryTableModel::Row> rows;
        int skipped = 0;
        bool cut = false; // only the newest kMaxShownBytes were read
        QString error;
    };

    static Loaded load(const QString &path);
    void onLoaded();
    QString tr2(const char *english, const char *chinese) const;

    const bool m_english;
    const QString m_address;
    const QString m_path;
    HistoryTableModel *const m_model;
    QLabel *m_status = nullptr;
    QFutureWatcher<Loaded> *const m_watcher;
};
