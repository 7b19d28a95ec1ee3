#include "ComparisonTable.h"

#include "BenchSupport.h"
#include "RoundSeries.h"

#include <QStringList>

namespace Bench {

namespace {

// Enough decimals that rounds a few percent apart do not print alike.
int decimals(double megabytesPerSecond)
{
    return megabytesPerSecond < 10 ? 2 : 1;
}

QString megabytes(double value)
{
    return QStringLiteral("%1 MB/s").arg(value, 0, 'f', decimals(value));
}

} // namespace

void ComparisonTable::addRate(const LinkProfile &profile, const QString &what, qint64 bytes,
                              const RoundSeries &oursMs, const RoundSeries &peerMs, double minRatio,
                              double minShare, const QString &boundBy, Comparison comparison)
{
    const auto rate = [bytes](double ms) {
        return megabytesPerSecond(bytes, qint64(ms));
    };
    const bool pairs = comparison == Comparison::RoundPairs;
    const double ours = rate(pairs ? oursMs.median() : oursMs.best());
    const double peer = rate(pairs ? peerMs.median() : peerMs.best());
    const double share = ours * 8.0 / profile.mbit;
    const double ratio = pairs ? medianRatio(peerMs, oursMs) : peer > 0 ? ours / peer : 0.0;
    ComparisonRow row{
        QLatin1String(profile.name),
        what,
        megabytes(ours),
        QStringLiteral("%1 %").arg(share * 100.0, 0, 'f', 0),
        megabytes(peer),
        QString::number(ratio, 'f', 2),
        QStringLiteral("-"),
        QStringLiteral("ours %1, sftp %2 MB/s")
            .arg(oursMs.range(rate, decimals(ours)), peerMs.range(rate, decimals(peer))),
        true,
        boundBy};
    QStringList targets;
    if (minRatio > 0) {
        targets << QStringLiteral(">= %1x sftp").arg(minRatio, 0, 'f', 2);
        row.met = row.met && ratio >= minRatio;
    }
    if (minShare > 0) {
        targets << QStringLiteral(">= %1 % of link").arg(minShare * 100.0, 0, 'f', 0);
        row.met = row.met && share >= minShare;
    }
    if (!targets.isEmpty())
        row.target = targets.join(QStringLiteral(", "));
    m_rows << row;
}

void ComparisonTable::print() const
{
    const QStringList header = {"profile", "measure", m_ours,    m_share,        m_peer,
                                "ratio",   "target",  QString(), "rounds' range"};
    QVector<QStringList> lines{header};
    for (const ComparisonRow &row : m_rows) {
        const bool judged = row.target != QLatin1String("-");
        lines << QStringList{
            row.profile, row.what,  row.ours,   row.share,
            row.peer,    row.ratio, row.target, !judged ? "" : verdictText(row.met, row.boundBy),
            row.spread};
    }
    QVector<int> widths(header.size(), 0);
    for (const QStringList &line : lines) {
        for (int i = 0; i < line.size(); ++i)
            widths[i] = qMax(widths[i], line.at(i).size());
    }
    for (const QStringList &line : lines) {
        QStringList cells;
        for (int i = 0; i < line.size(); ++i)
            cells << line.at(i).leftJustified(widths[i]);
        out() << cells.join(QStringLiteral(" | ")).trimmed() << Qt::endl;
    }
}

bool ComparisonTable::judgeAll() const
{
    bool met = true;
    for (const ComparisonRow &row : m_rows) {
        if (row.target == QLatin1String("-"))
            continue;
        const QString text =
            QStringLiteral("%1, %2: %3 against %4, ratio %5 (%6)")
                .arg(row.profile, row.what, row.ours, row.peer, row.ratio, row.target);
        met = judgeUnlessBound(text, row.met, row.boundBy) && met;
    }
    return met;
}

} // namespace Bench
