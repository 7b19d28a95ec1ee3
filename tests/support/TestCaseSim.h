#pragma once

#include "SimController.h"

#include <memory>

// A simulated controller kept running for a whole test case. start() belongs in initTestCase;
// when the controller cannot run here or does not come up, the test functions that need it
// skip with the reason (CNC_REQUIRE_TEST_CASE_SIM).
class TestCaseSim
{
public:
    void start();
    void stop() { m_sim.reset(); }

    explicit operator bool() const { return m_sim != nullptr; }
    SimController *operator->() const { return m_sim.get(); }
    QString reason() const { return m_reason; }

private:
    std::unique_ptr<SimController> m_sim;
    QString m_reason;
};

// Skips the current test function when `sim` holds no running controller.
#define CNC_REQUIRE_TEST_CASE_SIM(sim)                                                             \
    do {                                                                                           \
        if (!(sim))                                                                                \
            QSKIP(qPrintable((sim).reason()));                                                     \
    } while (false)
