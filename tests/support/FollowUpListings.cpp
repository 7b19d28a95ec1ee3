#include "FollowUpListings.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

FollowUpListings::FollowUpListings(QWidget &window)
    : m_log(window.findChild<QPlainTextEdit *>(QStringLiteral("m_logEdit"))->document()),
      m_refresh(window.findChild<QPushButton *>(QStringLiteral("m_btnRefresh")))
{
    m_clock.start();
    connect(m_log, &QTextDocument::contentsChanged, this, &FollowUpListings::noteLine);
}

void FollowUpListings::noteLine()
{
    // Called as the line is written, before the window starts the timer of its follow-up; the
    // window's timers may fire up to 5 % early or late.
    static const QRegularExpression listing(QStringLiteral("^Refreshing remote|^正在刷新远程目录"));
    static const QRegularExpression marker(QStringLiteral("操作成功完成$|operation completed "
                                                          "successfully$"));
    const QString line = m_log->lastBlock().text().mid(11); // after "hh:mm:ss - "
    if (listing.match(line).hasMatch())
        return;
    const int delayMs = marker.match(line).hasMatch() ? 500 : 200;
    m_dueAt = qMax(m_dueAt, m_clock.elapsed() + delayMs * 21 / 20 + 1);
}

bool FollowUpListings::wait(int timeoutMs)
{
    // Timers run in the order they are due: one of our own, due after the window's, runs after
    // them, also when the event loop gets to both late.
    QTimer after;
    after.setTimerType(Qt::PreciseTimer);
    after.setSingleShot(true);
    after.start(int(qMax<qint64>(1, m_dueAt - m_clock.elapsed())));
    return QTest::qWaitFor([&] { return !after.isActive() && m_refresh->isEnabled(); }, timeoutMs);
}
