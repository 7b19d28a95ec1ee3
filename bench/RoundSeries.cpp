#include "RoundSeries.h"

#include <algorithm>

namespace Bench {

double RoundSeries::best() const
{
    return isEmpty() ? 0.0 : *std::min_element(m_values.cbegin(), m_values.cend());
}

double RoundSeries::worst() const
{
    return isEmpty() ? 0.0 : *std::max_element(m_values.cbegin(), m_values.cend());
}

namespace {

double medianOf(QVector<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

} // namespace

double RoundSeries::median() const
{
    return medianOf(m_values);
}

double RoundSeries::spreadPercent() const
{
    const double least = best();
    return least > 0 ? (worst() - least) / least * 100.0 : 0.0;
}

QString RoundSeries::range(const std::function<double(double)> &show, int decimals) const
{
    // A rate shown for a duration turns the order round: sort what is shown.
    const double a = show(best());
    const double b = show(worst());
    return QStringLiteral("%1-%2")
        .arg(qMin(a, b), 0, 'f', decimals)
        .arg(qMax(a, b), 0, 'f', decimals);
}

QString RoundSeries::range(int decimals) const
{
    return range([](double value) { return value; }, decimals);
}

double medianRatio(const RoundSeries &numerators, const RoundSeries &denominators)
{
    QVector<double> ratios;
    for (int round = 0; round < qMin(numerators.count(), denominators.count()); ++round) {
        if (denominators.at(round) > 0)
            ratios.append(numerators.at(round) / denominators.at(round));
    }
    return medianOf(ratios);
}

bool interleaved(int round, const std::function<bool()> &first, const std::function<bool()> &second)
{
    return round % 2 ? second() && first() : first() && second();
}

} // namespace Bench
