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

double RoundSeries::median() const
{
    if (isEmpty())
        return 0.0;
    QVector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const int middle = sorted.size() / 2;
    return sorted.size() % 2 ? sorted.at(middle) : (sorted.at(middle - 1) + sorted.at(middle)) / 2;
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

bool interleaved(int round, const std::function<bool()> &first, const std::function<bool()> &second)
{
    return round % 2 ? second() && first() : first() && second();
}

} // namespace Bench
