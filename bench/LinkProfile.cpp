#include "LinkProfile.h"

#include "BenchSupport.h"
#include "DelayRelay.h"
#include "SimController.h"

#include <algorithm>

namespace Bench {

bool profileChosen(const LinkProfile &profile, const QStringList &names)
{
    return names.isEmpty() || std::any_of(names.cbegin(), names.cend(), [&](const QString &name) {
               return !name.isEmpty() && QLatin1String(profile.name).startsWith(name);
           });
}

ShapedLink::ShapedLink() = default;
ShapedLink::~ShapedLink() = default;

bool ShapedLink::open(SimController &sim, const LinkProfile &profile)
{
    out() << "-- " << profile.name << ": ";
    if (profile.mbit > 0)
        out() << profile.mbit << " Mbit/s, " << profile.delayMs << " ms each way";
    else
        out() << "no rate limit, no delay";
    if (profile.cpuPercent > 0)
        out() << "; the SSH server on one core held to " << profile.cpuPercent << " % of it";
    out() << Qt::endl;
    m_relay.reset();
    if (!sim.setLinkRate(QLatin1String(profile.rate))) {
        out() << "cannot limit the link: " << sim.lastError() << Qt::endl;
        return false;
    }
    m_endpoint = {sim.address(), 22};
    if (profile.delayMs <= 0)
        return true;
    m_relay = std::make_unique<DelayRelay>(sim.address(), 22, profile.delayMs);
    QString error;
    if (!m_relay->start(&error)) {
        out() << error << Qt::endl;
        return false;
    }
    m_endpoint = {m_relay->address(), m_relay->port()};
    return true;
}

} // namespace Bench
