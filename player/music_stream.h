// The music as the player reads it while it plays: a decoder thread runs
// ahead of the play position into a ring of a few seconds, so that memory and
// the start do not grow with the file's length.
#ifndef VELMORA_PLAYER_MUSIC_STREAM_H
#define VELMORA_PLAYER_MUSIC_STREAM_H

#include "pcm_audio.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Frames a decoder reads at a time.
const int64_t kDecodeBlock = 4096;

// A sample in -1..1 as a 16-bit one: rounded, saturated (never wrapped), NaN
// as silence. 16-bit samples read as floats come back unchanged.
int16_t ToPcm16(float sample);
// A decoded sample clipped to -1..1, NaN as silence.
float ClipSample(float sample);

// Frames of one or two channels, decoded to floats in -1..1.
class MusicDecoder
{
public:
    virtual ~MusicDecoder() = default;
    virtual int SampleRate() const = 0;
    virtual int Channels() const = 0;
    // Frames in the music as its header says; 0 or less when not known.
    virtual int64_t Frames() const = 0;
    // Reads up to `count` interleaved frames: 0 at the end, -1 on an error.
    virtual int64_t Read(float* out, int64_t count) = 0;
    virtual bool Seek(int64_t frame) = 0;
    // The reason of the last error, one line.
    virtual std::string Error() const { return ""; }
    // Whether a successful Seek gives the very frames that reading from the
    // start gives there (libsndfile's Vorbis seeks do not).
    virtual bool SeeksExactly() const { return true; }
    // The same music from its first frame, on a decoder of its own (this one
    // is left as it is); null where that cannot be had.
    virtual std::unique_ptr<MusicDecoder> Reopen() const { return nullptr; }
};

// Opens a WAV, FLAC or Ogg file through libsndfile: every format read as
// floats, files of more than two channels keep the first two. On failure
// returns null with a one-line reason naming the file.
std::unique_ptr<MusicDecoder> OpenMusicFile(const std::string& path, std::string& error);
// Frames held in memory (the built-in music, tests).
std::unique_ptr<MusicDecoder> MemoryMusic(std::shared_ptr<const PcmAudio> audio);

class MusicStream
{
public:
    // Told, in words that follow the music's name, where decoding breaks off
    // ("breaks off at 12.000 s: ...") or that looped music cannot be read at
    // all; called from the decoder thread, once for each place.
    using Report = std::function<void(const std::string&)>;

    // Starts the decoder thread. `loop` plays the music again from its start
    // without end, wrapping where the music really ends (its header's end, or
    // where it breaks off); frames before the start then are its last ones.
    MusicStream(std::unique_ptr<MusicDecoder> decoder, bool loop, Report report = nullptr);
    ~MusicStream();
    MusicStream(const MusicStream&) = delete;
    MusicStream& operator=(const MusicStream&) = delete;

    int SampleRate() const { return m_Rate; }
    int Channels() const { return m_Channels; }
    bool Loops() const { return m_Loop; }
    // Frames the ring holds at most: the same whatever the music's length.
    int64_t BufferFrames() const { return m_Capacity; }

    // Frames `first`..`first + count` counted from the start of play (looped
    // music goes on past its end), waiting for the decoder as long as it
    // takes. Frames that are not music (before the start, after the end) are 0.
    void Read(int64_t first, int64_t count, float* out);
    // Whether the music that does not loop has ended by `frame`; waits until
    // the decoder has reached that frame or the end.
    bool EndedBy(int64_t frame);
    // Whether EndedBy has answered yes where the music broke off rather than
    // at its end.
    bool StoppedAtBreak() const;

    // The audio device's side, which reads the music in order from its first
    // frame through a ring of its own, taking no lock. StartDevice makes the
    // next Take begin at frame 0 again, for a device that takes over from any
    // before it (one at a time); StopDevice with what it returned lets the
    // decoder forget that device, if no other has started since.
    int StartDevice();
    void StopDevice(int device);
    // Waits until the device's first `count` frames are ready (or the end).
    void WaitForDevice(int64_t count);
    // Never waiting: copies the next decoded frames, up to `count`, and
    // returns how many; -1 once music that does not loop has ended.
    int64_t Take(int64_t count, float* out);

    // Waits until `first`..`first + count` is decoded (or the music ended).
    void WaitFor(int64_t first, int64_t count);

    // Counted since the start: frames decoded, and times the decoder was sent
    // elsewhere than where it was (jumps, not loops).
    int64_t FramesDecoded() const;
    int Repositions() const;

private:
    void Run();
    // With the lock held: whether `first`..`first + count` is decoded or never will be.
    bool Ready(int64_t first, int64_t count) const;
    // With the lock held: sends the decoder to `first` when the ring cannot serve it.
    void Need(int64_t first, int64_t count);
    // With the lock held: waits until Ready.
    void Await(std::unique_lock<std::mutex>& lock, int64_t first, int64_t count);
    void CopyOut(int64_t first, int64_t count, float* out) const;
    // With the lock held: the frame of the file that frame `frame` of play is.
    int64_t FileFrame(int64_t frame) const;

    // The decoder thread's own (no lock): the decoder and where it is.
    // Sends the decoder to `target` of the file, exactly; false where the
    // file does not reach it.
    bool MoveTo(int64_t target);
    // A fresh decoder at the file's first frame.
    bool Restart();
    // Reads the whole music on a decoder of its own, for its length and its
    // last frames; false where it cannot be read at all.
    bool Measure(int64_t tailWanted);
    // With the lock taken and given back: sends the decoder where Need asked.
    void Jump(std::unique_lock<std::mutex>& lock);
    // Why `decoder` gave no more frames: `got` < 0 for an error.
    std::string BreakReason(const MusicDecoder& decoder, int64_t got) const;
    // Reports a break at frame `at` (once for each place), or that the music
    // cannot be read at all.
    void Tell(int64_t at, const std::string& reason, bool unreadable);
    // With the lock held: hands the device ring what the ring has for it.
    void FeedDevice();

    std::unique_ptr<MusicDecoder> m_Decoder;
    int64_t m_FileAt = 0;     // the decoder's next frame of the file; -1 when it cannot be trusted
    int64_t m_Reach = -1;     // after a MoveTo that failed: where reading stopped (-1: not read)
    std::string m_ReachReason;
    const bool m_Loop;
    const int m_Rate;
    const int m_Channels;
    const int64_t m_Header;   // the header's frames, 0 when unknown
    const Report m_Report;
    int64_t m_Capacity = 0;   // frames in the ring
    int64_t m_Ahead = 0;      // frames the decoder runs ahead of the furthest read
    std::vector<float> m_Ring;
    std::vector<float> m_Tail; // the last frames, before the start of looped music
    int64_t m_TailEnd = 0;     // the length the tail was read for

    mutable std::mutex m_Lock;
    std::condition_variable m_Work;    // for the decoder
    std::condition_variable m_Decoded; // for readers
    int64_t m_Length = 0;     // where the music really ends, once known; 0 before
    int64_t m_Origin = 0;     // the frame of play where the file's first frame is (looped)
    int64_t m_Begin = 0;      // frames m_Begin..m_End are in the ring
    int64_t m_End = 0;
    int64_t m_Lead = 0;       // the furthest frame asked for
    bool m_Ended = false;     // no more frames come after m_End
    bool m_Broken = false;    // ... because decoding broke off there
    bool m_StoppedAtBreak = false;
    int64_t m_ReportedAt = -1; // the last place told of
    bool m_SeekPending = false;
    int64_t m_Epoch = 0;      // counts repositions: a block read before one is dropped
    int64_t m_DecodedFrames = 0;
    int m_Repositions = 0;
    bool m_Stop = false;
    int m_Waiting = 0;        // readers waiting for frames

    // The device's ring: the decoder thread writes frames m_DeviceWritten
    // onwards, the device reads from m_DeviceRead; each moves only its own.
    std::vector<float> m_DeviceRing;
    int64_t m_DeviceFrames = 0;
    bool m_DeviceOn = false;
    int m_Devices = 0;        // devices started
    std::atomic<int64_t> m_DeviceRead{0};
    std::atomic<int64_t> m_DeviceWritten{0};
    std::atomic<int64_t> m_DeviceEnd{INT64_MAX};

    std::thread m_Thread;
};

#endif
