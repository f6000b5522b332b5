#include "audio_clock.h"

#include <algorithm>
#include <chrono>

void AudioClock::Handed(int64_t frames, double seconds)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Before += m_Block;
    m_Block = frames;
    m_BlockTime = seconds;
}

double AudioClock::PositionMs(double seconds) const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Rate <= 0)
        return 0.0;
    // A block starts to sound when it is handed over; the device's own buffer is not known.
    const double played = std::min(std::max(seconds - m_BlockTime, 0.0) * m_Rate, static_cast<double>(m_Block));
    return (static_cast<double>(m_Before) + played) * 1000.0 / m_Rate;
}

int64_t AudioClock::FramesHanded() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Before + m_Block;
}

double SteadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
