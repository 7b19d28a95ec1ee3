#pragma once

#include <QString>
#include <QVector>

#include <functional>

namespace Bench {

// Every round's figure of one side of a comparison, where less is better (a duration, CPU time
// per MiB): the best, the median and the spread, so that a verdict can show how far apart the
// rounds were and compare like with like.
class RoundSeries
{
public:
    void add(double value) { m_values.append(value); }
    int count() const { return m_values.size(); }
    bool isEmpty() const { return m_values.isEmpty(); }

    double at(int round) const { return m_values.at(round); }
    double best() const;
    double worst() const;
    double median() const;
    // How far the worst round lies from the best, as a percentage of the best.
    double spreadPercent() const;
    // The least and the greatest of the rounds shown through show (a duration as a rate, say),
    // "low-high", with the given decimals.
    QString range(const std::function<double(double)> &show, int decimals) const;
    QString range(int decimals) const;

private:
    QVector<double> m_values;
};

// The median of the rounds' own ratios, each round of numerators over the same round of
// denominators (as many rounds as both have). Where the two sides of a round ran back to back,
// this machine's pace at that moment cancels out of its ratio.
double medianRatio(const RoundSeries &numerators, const RoundSeries &denominators);

// Runs each side of a comparison once, in the order given or the reverse one on odd rounds, so
// that a drift of the machine hits both sides alike; false as soon as one fails.
bool interleaved(int round, const std::function<bool()> &first,
                 const std::function<bool()> &second);

} // namespace Bench
