// The music as the player reads it while it plays: a decoder thread runs
// ahead of the play position into a ring of a few seconds, so that memory and
// the start do not grow with the file's length.
#ifndef VELMORA_PLAYER_MUSIC_STREAM_H
#define VELMORA_PLAYER_MUSIC_STREAM_H

#include "pcm_audio.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    // Starts the decoder thread. `loop` plays the music again from its start
    // without end; frames before the start then are the music's last ones.
    MusicStream(std::unique_ptr<MusicDecoder> decoder, bool loop);
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

    // For the audio device, never waiting: copies what is decoded of
    // `first`..`first + count`, from `first` on, and returns how many frames
    // that is; -1 once the music that does not loop has ended before `first`.
    int64_t Take(int64_t first, int64_t count, float* out);
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
    void CopyOut(int64_t first, int64_t count, float* out) const;
    int64_t FileFrame(int64_t frame) const;

    std::unique_ptr<MusicDecoder> m_Decoder;
    const bool m_Loop;
    const int m_Rate;
    const int m_Channels;
    const int64_t m_Length;   // the header's frames, 0 when unknown
    int64_t m_Capacity = 0;   // frames in the ring
    int64_t m_Ahead = 0;      // frames the decoder runs ahead of the furthest read
    std::vector<float> m_Ring;
    std::vector<float> m_Tail; // the last frames, before the start of looped music

    mutable std::mutex m_Lock;
    std::condition_variable m_Work;    // for the decoder
    std::condition_variable m_Decoded; // for readers
    int64_t m_Begin = 0;      // frames m_Begin..m_End are in the ring
    int64_t m_End = 0;
    int64_t m_Lead = 0;       // the furthest frame asked for
    bool m_Ended = false;     // no more frames come after m_End
    bool m_SeekPending = false;
    int64_t m_Epoch = 0;      // counts repositions: a block read before one is dropped
    int64_t m_DecodedFrames = 0;
    int m_Repositions = 0;
    bool m_Stop = false;
    std::thread m_Thread;
};

#endif
