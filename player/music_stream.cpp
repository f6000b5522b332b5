#include "music_stream.h"

#include "spectrum_analyzer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
// Frames the decoder reads at a time.
const int64_t kDecodeBlock = 4096;
}

MusicStream::MusicStream(std::unique_ptr<MusicDecoder> decoder, bool loop)
    : m_Decoder(std::move(decoder)), m_Loop(loop), m_Rate(m_Decoder->SampleRate()),
      m_Channels(m_Decoder->Channels()), m_Length(std::max<int64_t>(m_Decoder->Frames(), 0))
{
    // Enough ahead to ride out a busy machine, enough behind for the analysis
    // to look around a position the device has already passed.
    const int64_t window = SpectrumFftSize(m_Rate);
    const int64_t second = std::min<int64_t>(m_Rate, 1 << 19);
    m_Ahead = std::max({2 * second, 2 * window, kDecodeBlock});
    const int64_t history = std::max(second, 2 * window);
    m_Capacity = m_Ahead + history + kDecodeBlock;
    m_Ring.assign(static_cast<size_t>(m_Capacity * m_Channels), 0.0f);

    // Looped music is heard after its own end: the analysis at the start looks back into it.
    if (m_Loop && m_Length > 0)
    {
        const int64_t tail = std::min(m_Length, window);
        m_Tail.assign(static_cast<size_t>(tail * m_Channels), 0.0f);
        if (!m_Decoder->Seek(m_Length - tail) || m_Decoder->Read(m_Tail.data(), tail) != tail)
            std::fill(m_Tail.begin(), m_Tail.end(), 0.0f);
        if (!m_Decoder->Seek(0))
            m_Ended = true;
    }
    m_Thread = std::thread(&MusicStream::Run, this);
}

MusicStream::~MusicStream()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Stop = true;
    }
    m_Work.notify_all();
    m_Thread.join();
}

int64_t MusicStream::FileFrame(int64_t frame) const
{
    return m_Loop && m_Length > 0 ? frame % m_Length : frame;
}

void MusicStream::Run()
{
    std::vector<float> block(static_cast<size_t>(kDecodeBlock * m_Channels));
    // Frames read since the decoder last went back to the file's start: a
    // looped file that gives none there is empty, and ends.
    int64_t sinceStart = 0;
    bool atStart = true;
    std::unique_lock<std::mutex> lock(m_Lock);
    while (!m_Stop)
    {
        if (m_SeekPending)
        {
            m_SeekPending = false;
            const int64_t epoch = m_Epoch;
            const int64_t target = FileFrame(m_End);
            lock.unlock();
            const bool sought = m_Decoder->Seek(target);
            lock.lock();
            if (epoch != m_Epoch)
                continue;
            atStart = target == 0;
            sinceStart = 0;
            // Past the end of music that does not loop: nothing more comes.
            if (!sought)
                m_Ended = true;
            m_Decoded.notify_all();
            continue;
        }
        if (m_Ended || m_End >= m_Lead + m_Ahead)
        {
            m_Work.wait(lock);
            continue;
        }
        const int64_t epoch = m_Epoch;
        lock.unlock();
        const int64_t got = m_Decoder->Read(block.data(), kDecodeBlock);
        // Looped music starts again at its end, or where its file breaks off,
        // as long as the start gives something.
        const bool again = got <= 0 && m_Loop && !(atStart && sinceStart == 0);
        const bool rewound = again && m_Decoder->Seek(0);
        lock.lock();
        if (epoch != m_Epoch)
            continue; // sent elsewhere meanwhile: this block is not wanted
        if (got > 0)
        {
            for (int64_t i = 0; i < got; ++i)
            {
                const int64_t slot = (m_End + i) % m_Capacity;
                std::copy_n(&block[static_cast<size_t>(i * m_Channels)], m_Channels,
                            &m_Ring[static_cast<size_t>(slot * m_Channels)]);
            }
            m_End += got;
            m_Begin = std::max(m_Begin, m_End - m_Capacity);
            m_DecodedFrames += got;
            sinceStart += got;
        }
        else if (rewound)
        {
            atStart = true;
            sinceStart = 0;
        }
        else
        {
            m_Ended = true; // the end, or an error: what was decoded stays
        }
        m_Decoded.notify_all();
    }
}

bool MusicStream::Ready(int64_t first, int64_t count) const
{
    return m_Ended || m_End >= first + count;
}

void MusicStream::Need(int64_t first, int64_t count)
{
    const int64_t from = std::max<int64_t>(first, 0);
    const int64_t to = std::max(first + count, from);
    // Behind what the ring holds, or so far ahead that decoding up to it
    // would pass through the whole ring: the decoder goes there.
    if (from < m_Begin || from > m_End + m_Capacity)
    {
        ++m_Epoch;
        ++m_Repositions;
        m_Begin = m_End = from;
        m_Lead = to;
        m_Ended = false;
        m_SeekPending = true;
        m_Work.notify_all();
        return;
    }
    if (to > m_Lead)
    {
        m_Lead = to;
        if (!m_Ended && m_End < m_Lead + m_Ahead)
            m_Work.notify_all();
    }
}

void MusicStream::CopyOut(int64_t first, int64_t count, float* out) const
{
    const int64_t tailFrames = static_cast<int64_t>(m_Tail.size()) / m_Channels;
    for (int64_t i = 0; i < count; ++i)
    {
        const int64_t frame = first + i;
        float* to = out + i * m_Channels;
        const float* from = nullptr;
        if (frame < 0)
        {
            if (tailFrames > 0)
            {
                // -1 is the music's last frame; a short file repeats further back.
                int64_t back = (-frame - 1) % m_Length;
                if (back < tailFrames)
                    from = &m_Tail[static_cast<size_t>((tailFrames - 1 - back) * m_Channels)];
            }
        }
        else if (frame >= m_Begin && frame < m_End)
        {
            from = &m_Ring[static_cast<size_t>((frame % m_Capacity) * m_Channels)];
        }
        if (from)
            std::copy_n(from, m_Channels, to);
        else
            std::fill_n(to, m_Channels, 0.0f);
    }
}

void MusicStream::Read(int64_t first, int64_t count, float* out)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    Need(first, count);
    m_Decoded.wait(lock, [&]() { return Ready(first, count); });
    CopyOut(first, count, out);
}

bool MusicStream::EndedBy(int64_t frame)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    if (m_Loop)
        return false;
    Need(frame, 1);
    m_Decoded.wait(lock, [&]() { return Ready(frame, 1); });
    return m_Ended && frame >= m_End;
}

int64_t MusicStream::Take(int64_t first, int64_t count, float* out)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    Need(first, count);
    if (m_Ended && first >= m_End)
        return -1;
    const int64_t got = std::max<int64_t>(0, std::min(first + count, m_End) - std::max(first, m_Begin));
    if (first < m_Begin || got <= 0)
        return 0;
    CopyOut(first, got, out);
    return got;
}

void MusicStream::WaitFor(int64_t first, int64_t count)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    Need(first, count);
    m_Decoded.wait(lock, [&]() { return Ready(first, count); });
}

int64_t MusicStream::FramesDecoded() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_DecodedFrames;
}

int MusicStream::Repositions() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Repositions;
}
