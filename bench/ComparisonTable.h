#pragma once

#include "LinkProfile.h"

#include <QString>
#include <QVector>

namespace Bench {

class RoundSeries;

// One line of a comparison with OpenSSH on a link profile. A row whose target is "-" is shown
// for information and judges nothing.
struct ComparisonRow
{
    QString profile;
    QString what;
    QString ours;
    QString share; // of the link
    QString peer;
    QString ratio;
    QString target;
    QString spread;
    bool met = true;
    // The library that keeps the target out of reach (see boundingLibrary()): a miss is shown
    // as bound by it and fails nothing.
    QString boundBy = {};
};

// The rows of a benchmark against OpenSSH: printed as one table, and every row with a target
// judged for the summary of make bench.
class ComparisonTable
{
public:
    ComparisonTable() = default;
    // A table that compares other things than this program and OpenSSH (the same transfers
    // two ways, say): the names of the columns ours, share and peer.
    ComparisonTable(const QString &ours, const QString &share, const QString &peer)
        : m_ours(ours), m_share(share), m_peer(peer)
    {}

    // How a rate row sets the two sides against each other.
    enum class Comparison {
        // Best round against best round: the most each side can do on a quiet machine.
        BestRounds,
        // The median of the rounds' own ratios, and the medians of both sides shown: for a pace
        // that this machine's CPU sets, whose speed drifts from one second to the next, so that
        // either side's best round is merely the one that met its fastest moment.
        RoundPairs,
    };

    void add(const ComparisonRow &row) { m_rows << row; }
    // A rate row: MB/s of both, the share of the link, the ratio to sftp (peer's time over
    // ours), the targets that are above 0, and the range of both sides' rounds.
    void addRate(const LinkProfile &profile, const QString &what, qint64 bytes,
                 const RoundSeries &oursMs, const RoundSeries &peerMs, double minRatio,
                 double minShare, const QString &boundBy = QString(),
                 Comparison comparison = Comparison::BestRounds);
    void print() const;
    // Judges every row that has a target; true when all met theirs or are bound.
    bool judgeAll() const;

private:
    QString m_ours = QStringLiteral("this program");
    QString m_share = QStringLiteral("link share");
    QString m_peer = QStringLiteral("OpenSSH");
    QVector<ComparisonRow> m_rows;
};

} // namespace Bench
