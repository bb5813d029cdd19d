#include "shell/Stopwatch.h"

#include "platform/Ticks.h"

namespace velloq {

Stopwatch::Stopwatch()
    : Stopwatch(platform::tick_count)
{
}

Stopwatch::Stopwatch(TickSource ticks)
    : m_ticks(ticks)
    , m_started(ticks())
{
}

void Stopwatch::start()
{
    m_started = m_ticks();
}

uint32_t Stopwatch::lap()
{
    uint32_t now = m_ticks();
    uint32_t elapsed = now - m_started;
    m_started = now;
    return elapsed;
}

}
