#pragma once

#include "SshTypes.h"

#include <QElapsedTimer>
#include <QMap>
#include <QString>
#include <QVector>
#include <QWidget>

class CConnectionForSshClient;
class QLabel;
class QProgressBar;
class QPushButton;

// The line under the window's buttons that shows the transfers under way: the file's name
// (or "3 of 7 files"), a bar, the bytes moved of the whole, the rate and the time left, and a
// Cancel button. It is hidden while no transfer runs.
//
// The transfers it shows since it last appeared make one batch; the bar and the figures
// cover the whole batch.
class TransferProgressLine : public QWidget
{
    Q_OBJECT
public:
    explicit TransferProgressLine(QWidget *parent = nullptr);

    void setEnglish(bool english);

    // Shows the transfers of worker, and asks it to cancel them.
    void follow(CConnectionForSshClient *worker);

    void addTransfer(QSsh::SftpJobId job, const QString &name, quint64 bytesTotal);
    void setProgress(QSsh::SftpJobId job, quint64 bytesDone, quint64 bytesTotal);
    // The worker is stopping job on the operator's request.
    void markCancelling(QSsh::SftpJobId job);
    // The transfer has moved its bytes and is checking its content.
    void markVerifying(QSsh::SftpJobId job);
    // Takes job off the line; the line hides after the batch's last job. Returns the job's
    // file name if the operator had cancelled it, else a null string.
    QString finishTransfer(QSsh::SftpJobId job);
    // Every transfer has ended with the connection.
    void clear();

signals:
    // Cancel was pressed: every running and waiting transfer is to stop.
    void cancelRequested();

private:
    struct Transfer
    {
        QString name;
        quint64 done = 0;
        quint64 total = 0;
        bool running = true;
        bool cancelling = false;
        bool verifying = false;
    };

    void refresh();
    // Bytes a second over the last few seconds; negative while there is too little to tell.
    double rate(quint64 done) const;

    QLabel *m_name = nullptr;
    QProgressBar *m_bar = nullptr;
    QLabel *m_bytes = nullptr;
    QLabel *m_speed = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_english = true;
    QMap<QSsh::SftpJobId, Transfer> m_batch; // in the order the jobs started
    QElapsedTimer m_clock;
    struct Sample
    {
        qint64 ms;
        quint64 done;
    };
    QVector<Sample> m_samples;
};
