#include "TransferProgressLine.h"

#include "CConnectionForSshClient.h"
#include "FileSizeText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace {

// The rate is taken over this much of the recent past: long enough to be steady, short enough
// to follow a link that slows down.
constexpr qint64 kRateWindowMs = 3000;
constexpr qint64 kRateMinimumMs = 500;
constexpr int kBarSteps = 1000;

QString sizeText(quint64 bytes)
{
    return fileSizeText(QString::number(bytes));
}

QString durationText(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2")
            .arg(hours ? (seconds / 60) % 60 : seconds / 60, hours ? 2 : 1, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return hours ? QStringLiteral("%1:%2").arg(hours).arg(minutesAndSeconds) : minutesAndSeconds;
}

const QString kLineStyle = QStringLiteral(
    "QLabel { color: #374151; font-size: 13px; }"
    "QProgressBar { border: 1px solid #d1d5db; border-radius: 6px; background-color: #f8f9fa;"
    " height: 14px; text-align: center; font-size: 12px; }"
    "QProgressBar::chunk { background-color: #007aff; border-radius: 5px; }"
    "QPushButton { background-color: #f0f0f0; color: #333; border: 1px solid #ccc;"
    " padding: 4px 12px; border-radius: 6px; font-size: 13px; }"
    "QPushButton:hover { background-color: #e0e0e0; border-color: #999; }"
    "QPushButton:disabled { color: #9ca3af; }");

} // namespace

TransferProgressLine::TransferProgressLine(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("m_progressLine"));
    setStyleSheet(kLineStyle);
    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("progressName"));
    m_name->setMinimumWidth(160);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setRange(0, kBarSteps);
    m_bytes = new QLabel(this);
    m_bytes->setObjectName(QStringLiteral("progressBytes"));
    m_speed = new QLabel(this);
    m_speed->setObjectName(QStringLiteral("progressRate"));
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("progressCancel"));
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_cancel->setEnabled(false);
        emit cancelRequested();
    });

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(m_name);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_bytes);
    layout->addWidget(m_speed);
    layout->addWidget(m_cancel);
    hide();
    setEnglish(true);
}

void TransferProgressLine::setEnglish(bool english)
{
    m_english = english;
    m_cancel->setText(english ? QStringLiteral("Cancel") : QStringLiteral("取消"));
    refresh();
}

void TransferProgressLine::follow(CConnectionForSshClient *worker)
{
    using Worker = CConnectionForSshClient;
    connect(worker, &Worker::sftpTransferStarted, this, &TransferProgressLine::addTransfer);
    connect(worker, &Worker::sftpTransferProgress, this, &TransferProgressLine::setProgress);
    connect(worker, &Worker::sftpTransferCancelling, this, &TransferProgressLine::markCancelling);
    connect(worker, &Worker::sftpTransferVerifying, this, &TransferProgressLine::markVerifying);
    connect(this, &TransferProgressLine::cancelRequested, worker, &Worker::slotCancelTransfers);
}

void TransferProgressLine::addTransfer(QSsh::SftpJobId job, const QString &name, quint64 bytesTotal)
{
    if (m_batch.isEmpty()) {
        m_clock.start();
        m_samples.clear();
    }
    // A transfer started after a cancel can be cancelled too.
    m_cancel->setEnabled(true);
    Transfer &transfer = m_batch[job];
    transfer.name = name;
    transfer.total = bytesTotal;
    refresh();
    show();
}

void TransferProgressLine::setProgress(QSsh::SftpJobId job, quint64 bytesDone, quint64 bytesTotal)
{
    const auto it = m_batch.find(job);
    if (it == m_batch.end() || !it->running)
        return;
    it->done = bytesDone;
    if (bytesTotal > 0)
        it->total = bytesTotal;
    refresh();
}

void TransferProgressLine::markCancelling(QSsh::SftpJobId job)
{
    const auto it = m_batch.find(job);
    if (it != m_batch.end() && it->running)
        it->cancelling = true;
}

void TransferProgressLine::markVerifying(QSsh::SftpJobId job)
{
    const auto it = m_batch.find(job);
    if (it == m_batch.end() || !it->running)
        return;
    it->verifying = true;
    refresh();
}

QString TransferProgressLine::finishTransfer(QSsh::SftpJobId job)
{
    const auto it = m_batch.find(job);
    if (it == m_batch.end() || !it->running)
        return QString();
    it->running = false;
    const QString cancelled = it->cancelling ? it->name : QString();
    if (std::none_of(m_batch.cbegin(), m_batch.cend(),
                     [](const Transfer &transfer) { return transfer.running; })) {
        clear();
        return cancelled;
    }
    refresh();
    return cancelled;
}

void TransferProgressLine::clear()
{
    m_batch.clear();
    m_samples.clear();
    hide();
}

double TransferProgressLine::rate(quint64 done) const
{
    if (m_samples.isEmpty())
        return -1;
    const Sample &oldest = m_samples.first();
    const qint64 span = m_clock.elapsed() - oldest.ms;
    if (span < kRateMinimumMs || done < oldest.done)
        return -1;
    return double(done - oldest.done) * 1000.0 / double(span);
}

void TransferProgressLine::refresh()
{
    if (m_batch.isEmpty())
        return;
    quint64 done = 0;
    quint64 total = 0;
    int finished = 0;
    bool sizesKnown = true;
    bool verifying = false;
    for (const Transfer &transfer : qAsConst(m_batch)) {
        done += transfer.done;
        total += qMax(transfer.total, transfer.done);
        sizesKnown = sizesKnown && (transfer.total > 0 || !transfer.running);
        finished += transfer.running ? 0 : 1;
        verifying = verifying || (transfer.running && transfer.verifying);
    }

    QString name = m_batch.first().name;
    if (m_batch.size() > 1) {
        name = (m_english ? QStringLiteral("%1 of %2 files")
                          : QStringLiteral("第 %1 个，共 %2 个文件"))
                   .arg(qMin(finished + 1, m_batch.size()))
                   .arg(m_batch.size());
    }
    if (verifying)
        name += m_english ? QStringLiteral(" (verifying)") : QStringLiteral("（校验中）");
    m_name->setText(name);
    m_bar->setValue(total > 0 ? int(double(done) / double(total) * kBarSteps) : 0);
    m_bytes->setText(QStringLiteral("%1 / %2").arg(sizeText(done), sizeText(total)));

    // The samples reach back over the rate window, and one sample beyond it.
    const qint64 now = m_clock.elapsed();
    if (m_samples.isEmpty() || m_samples.last().done != done)
        m_samples.append({now, done});
    while (m_samples.size() > 2 && now - m_samples.at(1).ms > kRateWindowMs)
        m_samples.removeFirst();
    const double bytesPerSecond = rate(done);
    QString speed = QStringLiteral("--");
    QString left = QStringLiteral("--");
    if (bytesPerSecond > 0) {
        speed = sizeText(quint64(bytesPerSecond)) + QStringLiteral("/s");
        if (sizesKnown)
            left = durationText(qint64(double(total - done) / bytesPerSecond + 0.5));
    }
    m_speed->setText((m_english ? QStringLiteral("%1, %2 left") : QStringLiteral("%1，剩余 %2"))
                         .arg(speed, left));
}
