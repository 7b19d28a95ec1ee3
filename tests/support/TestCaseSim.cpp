#include "TestCaseSim.h"

void TestCaseSim::start()
{
    if (!SimController::canRun(&m_reason))
        return;
    m_sim = std::make_unique<SimController>();
    if (!m_sim->start()) {
        m_reason = m_sim->lastError();
        m_sim.reset();
    }
}
