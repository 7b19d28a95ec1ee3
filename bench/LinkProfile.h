#pragma once

#include "BenchSupport.h"
#include "SimController.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <memory>

class DelayRelay;

namespace Bench {

// A link operators have between this program and the controller: its rate and its one-way
// delay; and the controller at its end: its SSH server, and the share of one core that server
// is held to (0: this machine's CPUs as they are).
struct LinkProfile
{
    const char *name;
    const char *rate; // as tc writes it
    int mbit;
    int delayMs; // one way
    bool lan;
    SimController::Server server = SimController::Server::OpenSsh;
    int cpuPercent = 0;
};

inline constexpr LinkProfile kShopWifi = {"shop Wi-Fi", "50mbit", 50, 10, false};
inline constexpr LinkProfile kLinkProfiles[] = {
    {"gigabit LAN", "1gbit", 1000, 0, true},
    {"100 Mbit LAN", "100mbit", 100, 1, true},
    kShopWifi,
    {"VPN", "20mbit", 20, 40, false},
};
// The controllers this program serves are mostly small ARM boards without AES or SHA
// instructions (a Raspberry Pi 3 or 4): their CPU, not the link, sets the pace. On a gigabit
// LAN, the SSH server held to a quarter of one core with OpenSSL's CPU extensions hidden.
inline constexpr LinkProfile kPiClassProfiles[] = {
    {"Pi-class controller, OpenSSH", "1gbit", 1000, 0, true, SimController::Server::OpenSsh, 25},
    {"Pi-class controller, Dropbear", "1gbit", 1000, 0, true, SimController::Server::Dropbear, 25},
};
// The simulated controller's veth link as it is: no rate limit, no delay.
inline constexpr LinkProfile kBareLink = {"bare link", "", 0, 0, true};

// Whether a profile is among those named on the command line, by its name or the start of it
// ("Pi-class controller" names both); none named takes every one.
bool profileChosen(const LinkProfile &profile, const QStringList &names);

// The main part of a benchmark over link profiles: prepares it, measures it on each profile in
// turn, lifts the rate limit, prints its table and its verdicts, and says how it ended under
// title; the exit code. Benchmark has bool prepare(), bool runProfile(profile), finish(),
// printTable() and bool allMet().
template <typename Benchmark>
int runOnProfiles(Benchmark &bench, const QVector<LinkProfile> &profiles, const QString &title,
                  const QString &program)
{
    bool ran = bench.prepare();
    for (const LinkProfile &profile : profiles) {
        if (ran)
            ran = bench.runProfile(profile);
    }
    bench.finish();
    if (ran)
        bench.printTable();
    const bool met = ran && bench.allMet();
    printVerdicts(program);
    out() << "== " << title << ": "
          << (!ran  ? "FAILED"
              : met ? "done, every target met"
                    : "TARGET MISSED")
          << Qt::endl;
    return met ? 0 : 1;
}

// runOnProfiles() over the profiles of kLinkProfiles, then those of more, chosen by name on the
// command line (the slow links alone when slowLinksOnly).
template <typename Benchmark>
int runOverProfiles(Benchmark &bench, const QString &title, const QString &program,
                    const QStringList &chosen, bool slowLinksOnly,
                    const QVector<LinkProfile> &more = {})
{
    QVector<LinkProfile> profiles;
    const auto take = [&](const LinkProfile &profile) {
        if (!(slowLinksOnly && profile.lan) && profileChosen(profile, chosen))
            profiles << profile;
    };
    std::for_each(std::begin(kLinkProfiles), std::end(kLinkProfiles), take);
    std::for_each(more.cbegin(), more.cend(), take);
    return runOnProfiles(bench, profiles, title, program);
}

struct Endpoint
{
    QString host;
    int port = 22;
};

// The simulated controller's link held to a profile: its rate limited on the veth pair (tbf)
// and, for the delay, a relay in front of the controller that holds every byte back that long
// in each direction. Connections to endpoint() go through both. The relay stops with this
// object; the rate stays until the next profile or SimController::setLinkRate(QString()).
class ShapedLink
{
public:
    ShapedLink();
    ~ShapedLink();
    ShapedLink(const ShapedLink &) = delete;
    ShapedLink &operator=(const ShapedLink &) = delete;

    // Prints the profile's heading; false, saying why, when the link could not be shaped.
    bool open(SimController &sim, const LinkProfile &profile);
    Endpoint endpoint() const { return m_endpoint; }

private:
    std::unique_ptr<DelayRelay> m_relay;
    Endpoint m_endpoint;
};

} // namespace Bench
