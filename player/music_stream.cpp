#include "music_stream.h"

#include "spectrum_analyzer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace
{
// How often the decoder looks at the device's ring while it waits: the
// device's callback takes no lock, so it cannot wake the decoder itself.
const auto kDevicePoll = std::chrono::milliseconds(5);

std::string Seconds(int64_t frames, int rate)
{
    char text[64];
    snprintf(text, sizeof(text), "%.3f s", static_cast<double>(frames) / rate);
    return text;
}

int64_t Modulo(int64_t value, int64_t length)
{
    const int64_t rest = value % length;
    return rest < 0 ? rest + length : rest;
}
}

MusicStream::MusicStream(std::unique_ptr<MusicDecoder> decoder, bool loop, Report report)
    : m_Decoder(std::move(decoder)), m_Loop(loop), m_Rate(m_Decoder->SampleRate()),
      m_Channels(m_Decoder->Channels()), m_Header(std::max<int64_t>(m_Decoder->Frames(), 0)),
      m_Report(std::move(report))
{
    // Enough ahead to ride out a busy machine, enough behind for the analysis
    // to look around a position the device has already passed.
    const int64_t window = SpectrumFftSize(m_Rate);
    const int64_t second = std::min<int64_t>(m_Rate, 1 << 19);
    m_Ahead = std::max({2 * second, 2 * window, kDecodeBlock});
    const int64_t history = std::max(second, 2 * window);
    m_Capacity = m_Ahead + history + kDecodeBlock;
    m_Ring.assign(static_cast<size_t>(m_Capacity * m_Channels), 0.0f);
    // Half a second for the device, two of its converter's blocks at least.
    m_DeviceFrames = std::max<int64_t>(second / 2, 2 * kDecodeBlock);

    // Looped music is heard after its own end: the analysis at the start looks back into it.
    if (m_Loop && !Measure(window))
        m_Ended = m_Broken = true;
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

std::string MusicStream::BreakReason(const MusicDecoder& decoder, int64_t got) const
{
    if (got < 0)
    {
        const std::string error = decoder.Error();
        return error.empty() ? "the decoder failed" : error;
    }
    if (m_Header > 0)
        return "the file ends before the " + Seconds(m_Header, m_Rate) + " its header gives";
    return "the file ends sooner than it did";
}

void MusicStream::Tell(int64_t at, const std::string& reason, bool unreadable)
{
    if (!unreadable && at == m_ReportedAt)
        return;
    m_ReportedAt = at;
    if (m_Report)
        m_Report(unreadable ? "cannot be read at all: " + reason : "breaks off at " + Seconds(at, m_Rate) + ": " + reason);
}

bool MusicStream::Measure(int64_t tailWanted)
{
    // On a decoder of its own where there is one, so that the one that plays
    // is not spoilt by a seek that fails.
    std::unique_ptr<MusicDecoder> probe = m_Decoder->Reopen();
    MusicDecoder* decoder = probe ? probe.get() : m_Decoder.get();
    int64_t tail = std::min(m_Header, tailWanted);
    m_Tail.assign(static_cast<size_t>(tail * m_Channels), 0.0f);
    float extra[2];
    // Where seeks are exact the header's end is read where it says it is,
    // and trusted if the music ends right after it.
    const bool tried = m_Header > 0 && decoder->SeeksExactly();
    const bool atHeaderEnd = tried && decoder->Seek(m_Header - tail) && decoder->Read(m_Tail.data(), tail) == tail &&
        decoder->Read(extra, 1) == 0;
    if (atHeaderEnd)
    {
        m_Length = m_TailEnd = m_Header;
    }
    else
    {
        // Otherwise the whole music from its start, keeping its last frames.
        if (probe && tried)
            probe = m_Decoder->Reopen();
        decoder = probe ? probe.get() : m_Decoder.get();
        if (!probe && !decoder->Seek(0))
        {
            Tell(0, decoder->Error(), true);
            return false;
        }
        std::vector<float> rolling(static_cast<size_t>(tailWanted * m_Channels));
        std::vector<float> block(static_cast<size_t>(kDecodeBlock * m_Channels));
        int64_t frames = 0;
        int64_t got = 0;
        while ((got = decoder->Read(block.data(), kDecodeBlock)) > 0)
        {
            for (int64_t i = 0; i < got; ++i)
                std::copy_n(&block[static_cast<size_t>(i * m_Channels)], m_Channels,
                            &rolling[static_cast<size_t>(((frames + i) % tailWanted) * m_Channels)]);
            frames += got;
        }
        const bool broke = got < 0 || frames < m_Header;
        if (frames == 0)
        {
            Tell(0, BreakReason(*decoder, got), true);
            return false;
        }
        if (broke)
            Tell(frames, BreakReason(*decoder, got), false);
        tail = std::min(frames, tailWanted);
        m_Tail.resize(static_cast<size_t>(tail * m_Channels));
        for (int64_t i = 0; i < tail; ++i)
            std::copy_n(&rolling[static_cast<size_t>(((frames - tail + i) % tailWanted) * m_Channels)], m_Channels,
                        &m_Tail[static_cast<size_t>(i * m_Channels)]);
        m_Length = m_TailEnd = frames;
    }
    if (!probe)
    {
        m_FileAt = -1;
        if (!Restart())
        {
            Tell(0, m_Decoder->Error(), true);
            return false;
        }
    }
    return true;
}

bool MusicStream::Restart()
{
    std::unique_ptr<MusicDecoder> fresh = m_Decoder->Reopen();
    if (fresh)
        m_Decoder = std::move(fresh);
    else if (!m_Decoder->Seek(0))
        return false;
    m_FileAt = 0;
    return true;
}

bool MusicStream::MoveTo(int64_t target)
{
    m_Reach = -1;
    if (m_FileAt == target)
        return true;
    if (m_FileAt >= 0 && m_Decoder->SeeksExactly())
    {
        if (m_Decoder->Seek(target))
        {
            m_FileAt = target;
            return true;
        }
        m_FileAt = -1; // a failed seek can leave the decoder unusable
    }
    // Otherwise forward to it, as reading from the start gives it.
    if ((m_FileAt < 0 || m_FileAt > target) && !Restart())
    {
        m_Reach = 0;
        m_ReachReason = m_Decoder->Error();
        return false;
    }
    std::vector<float> skipped(static_cast<size_t>(kDecodeBlock * m_Channels));
    while (m_FileAt < target)
    {
        const int64_t got = m_Decoder->Read(skipped.data(), std::min(kDecodeBlock, target - m_FileAt));
        if (got <= 0)
        {
            m_Reach = m_FileAt;
            m_ReachReason = BreakReason(*m_Decoder, got);
            m_FileAt = -1;
            return false;
        }
        m_FileAt += got;
    }
    return true;
}

int64_t MusicStream::FileFrame(int64_t frame) const
{
    return m_Loop && m_Length > 0 ? Modulo(frame - m_Origin, m_Length) : frame;
}

void MusicStream::Jump(std::unique_lock<std::mutex>& lock)
{
    m_SeekPending = false;
    const int64_t epoch = m_Epoch;
    const int64_t from = m_End;
    const int64_t target = FileFrame(from);
    lock.unlock();
    bool reached = false;
    m_Reach = -1;
    int64_t shorter = 0; // where a looped file now ends, when a jump finds it shorter
    if (!m_Loop)
    {
        // Past the end of music that does not loop nothing is decoded.
        reached = (m_Header <= 0 || target < m_Header) && MoveTo(target);
    }
    else
    {
        reached = MoveTo(target);
        if (!reached && m_Reach > 0)
        {
            shorter = m_Reach;
            reached = MoveTo(Modulo(from - m_Origin, shorter));
        }
    }
    lock.lock();
    if (shorter > 0)
    {
        m_Length = shorter;
        Tell(shorter, m_ReachReason, false);
    }
    if (epoch != m_Epoch)
        return;
    if (!reached)
    {
        m_Ended = true;
        // A file that ends before its header does breaks off; a jump past
        // the end of music that does not loop only finds it ended.
        m_Broken = m_Loop || (m_Reach >= 0 && m_Reach < m_Header);
        if (m_Loop)
            Tell(0, m_ReachReason, true);
        else if (m_Broken)
            Tell(m_Reach, m_ReachReason, false);
    }
    m_Decoded.notify_all();
}

void MusicStream::Run()
{
    std::vector<float> block(static_cast<size_t>(kDecodeBlock * m_Channels));
    std::unique_lock<std::mutex> lock(m_Lock);
    while (!m_Stop)
    {
        FeedDevice();
        if (m_SeekPending)
        {
            Jump(lock);
            continue;
        }
        const int64_t lead = m_DeviceOn ? std::max(m_Lead, m_DeviceRead.load(std::memory_order_acquire)) : m_Lead;
        if (m_Ended || m_End >= lead + m_Ahead)
        {
            if (m_DeviceOn)
                m_Work.wait_for(lock, kDevicePoll);
            else
                m_Work.wait(lock);
            continue;
        }
        const int64_t epoch = m_Epoch;
        lock.unlock();
        const int64_t got = m_FileAt >= 0 ? m_Decoder->Read(block.data(), kDecodeBlock) : -1;
        const int64_t at = m_FileAt;
        // Short of what is known of the music's length: it broke off here.
        const int64_t expected = m_Length > 0 ? m_Length : m_Header;
        const bool broke = got < 0 || (got == 0 && at < expected);
        std::string reason;
        bool wrapped = false;
        if (got > 0)
        {
            m_FileAt += got;
        }
        else
        {
            if (broke)
            {
                reason = BreakReason(*m_Decoder, got);
                m_FileAt = -1;
            }
            // Looped music starts again where it really ended, as long as
            // the start gives something.
            wrapped = m_Loop && at > 0 && MoveTo(0);
        }
        lock.lock();
        if (got <= 0 && broke && at > 0)
            Tell(at, reason, false);
        // Where the music really ends, for jumps too.
        if (wrapped)
            m_Length = at;
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
        }
        else if (wrapped)
        {
            m_Origin = m_End;
        }
        else
        {
            // The end, or a break: what was decoded stays.
            m_Ended = true;
            m_Broken = broke || m_Loop;
            if (m_Loop)
                Tell(0, at > 0 ? m_ReachReason : reason.empty() ? "it gives no frames" : reason, true);
            else if (broke && at == 0)
                Tell(0, reason, false);
        }
        m_Decoded.notify_all();
    }
}

void MusicStream::FeedDevice()
{
    if (!m_DeviceOn)
        return;
    const int64_t written = m_DeviceWritten.load(std::memory_order_relaxed);
    if (written >= m_DeviceEnd.load(std::memory_order_relaxed))
        return;
    const int64_t read = m_DeviceRead.load(std::memory_order_acquire);
    if (written < m_Begin || written > m_End + m_Capacity)
    {
        // The analysis took the decoder elsewhere: once the device has
        // played what it has, and no reader waits, its frames come first.
        if (read >= written && m_Waiting == 0)
            Need(written, 1);
        return;
    }
    const int64_t until = std::min(m_End, read + m_DeviceFrames);
    for (int64_t frame = written; frame < until; ++frame)
        std::copy_n(&m_Ring[static_cast<size_t>((frame % m_Capacity) * m_Channels)], m_Channels,
                    &m_DeviceRing[static_cast<size_t>((frame % m_DeviceFrames) * m_Channels)]);
    if (until > written)
    {
        m_DeviceWritten.store(until, std::memory_order_release);
        m_Decoded.notify_all();
    }
    if (m_Ended && std::max(until, written) >= m_End)
    {
        m_DeviceEnd.store(m_End, std::memory_order_release);
        m_Decoded.notify_all();
    }
}

bool MusicStream::Ready(int64_t first, int64_t count) const
{
    return m_Ended || m_End >= first + count;
}

void MusicStream::Await(std::unique_lock<std::mutex>& lock, int64_t first, int64_t count)
{
    ++m_Waiting;
    m_Decoded.wait(lock, [&]() { return Ready(first, count); });
    --m_Waiting;
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
        m_Ended = m_Broken = false;
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
    // The tail stands for frames before the start while the music is as long as when it was read.
    const bool tailHolds = m_Loop && tailFrames > 0 && m_TailEnd == m_Length;
    for (int64_t i = 0; i < count; ++i)
    {
        const int64_t frame = first + i;
        float* to = out + i * m_Channels;
        const float* from = nullptr;
        if (frame < 0)
        {
            // A short file repeats further back.
            const int64_t back = tailHolds ? FileFrame(frame) - (m_Length - tailFrames) : -1;
            if (back >= 0)
                from = &m_Tail[static_cast<size_t>(back * m_Channels)];
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
    // The analysis's turns feed the device too, should the decoder thread be
    // held up in a read.
    FeedDevice();
    Need(first, count);
    Await(lock, first, count);
    CopyOut(first, count, out);
}

bool MusicStream::EndedBy(int64_t frame)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    Need(frame, 1);
    Await(lock, frame, 1);
    const bool ended = m_Ended && frame >= m_End;
    if (ended && m_Broken)
        m_StoppedAtBreak = true;
    return ended;
}

bool MusicStream::StoppedAtBreak() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_StoppedAtBreak;
}

int MusicStream::StartDevice()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_DeviceRing.empty())
        m_DeviceRing.assign(static_cast<size_t>(m_DeviceFrames * m_Channels), 0.0f);
    m_DeviceOn = true;
    m_DeviceRead.store(0, std::memory_order_release);
    m_DeviceWritten.store(0, std::memory_order_release);
    m_DeviceEnd.store(INT64_MAX, std::memory_order_release);
    m_Work.notify_all();
    return ++m_Devices;
}

void MusicStream::StopDevice(int device)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (device == m_Devices)
        m_DeviceOn = false;
}

void MusicStream::WaitForDevice(int64_t count)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    const int64_t wanted = std::min(count, m_DeviceFrames);
    m_Work.notify_all();
    // Fed here too: the decoder thread may be held up in a read.
    for (FeedDevice(); m_DeviceWritten.load(std::memory_order_relaxed) < wanted &&
         m_DeviceEnd.load(std::memory_order_relaxed) == INT64_MAX;
         FeedDevice())
        m_Decoded.wait(lock);
}

int64_t MusicStream::Take(int64_t count, float* out)
{
    const int64_t read = m_DeviceRead.load(std::memory_order_relaxed);
    const int64_t written = m_DeviceWritten.load(std::memory_order_acquire);
    if (read >= written)
        return read >= m_DeviceEnd.load(std::memory_order_acquire) ? -1 : 0;
    const int64_t got = std::min(count, written - read);
    // In at most two spans: up to the ring's end, then from its start.
    const int64_t slot = read % m_DeviceFrames;
    const int64_t first = std::min(got, m_DeviceFrames - slot);
    memcpy(out, &m_DeviceRing[static_cast<size_t>(slot * m_Channels)], static_cast<size_t>(first * m_Channels) * sizeof(float));
    memcpy(out + first * m_Channels, m_DeviceRing.data(), static_cast<size_t>((got - first) * m_Channels) * sizeof(float));
    m_DeviceRead.store(read + got, std::memory_order_release);
    return got;
}

void MusicStream::WaitFor(int64_t first, int64_t count)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    Need(first, count);
    Await(lock, first, count);
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
