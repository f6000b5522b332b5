#include "pcm_audio.h"

#include <algorithm>
#include <cmath>

namespace
{
const double kPi = 3.14159265358979323846;
const int kBars = 4;
const int kBeatsPerBar = 4;

// Repeatable noise by sample index, -1..1.
double Noise(int64_t n)
{
    uint32_t x = static_cast<uint32_t>(n) * 2654435761u + 0x9E3779B9u;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    x *= 0x297A2D39u;
    x ^= x >> 15;
    return x / 2147483647.5 - 1.0;
}

// Kick: a sine falling from 155 Hz to 45 Hz, 120 ms decay.
double Kick(double t)
{
    if (t < 0.0 || t > 0.45)
        return 0.0;
    const double phase = 2.0 * kPi * (45.0 * t + 110.0 * 0.03 * (1.0 - std::exp(-t / 0.03)));
    return std::sin(phase) * std::exp(-t / 0.12);
}

// A plucked sawtooth-like tone, `decay` seconds, 4 ms attack.
double Pluck(double t, double hz, double decay, int harmonics)
{
    if (t < 0.0)
        return 0.0;
    double sum = 0.0;
    for (int h = 1; h <= harmonics; ++h)
        sum += std::sin(2.0 * kPi * hz * h * t) / h;
    const double attack = t < 0.004 ? t / 0.004 : 1.0;
    return sum * attack * std::exp(-t / decay);
}

// Hi-hat: noise through a second difference (a high-pass), 35 ms decay.
double Hat(int64_t sinceStart, double rate)
{
    const double t = sinceStart / rate;
    if (t < 0.0 || t > 0.2)
        return 0.0;
    const double bright = (Noise(sinceStart) - 2.0 * Noise(sinceStart - 1) + Noise(sinceStart - 2)) * 0.25;
    return bright * std::exp(-t / 0.035);
}
}

PcmAudio MakeSynthMusic()
{
    const double rate = kSynthSampleRate;
    const int64_t beat = static_cast<int64_t>(rate * 60.0 / kSynthBeatsPerMinute);
    const int64_t eighth = beat / 2;
    const int64_t sixteenth = beat / 4;
    const int beats = kBars * kBeatsPerBar;

    // A minor: bass on the off-beats, an arpeggio on the sixteenths.
    const double bassNotes[8] = {55.0, 55.0, 65.41, 55.0, 49.0, 49.0, 73.42, 65.41};
    const double chordNotes[4][4] = {
        {440.0, 523.25, 659.26, 880.0},
        {349.23, 440.0, 523.25, 698.46},
        {392.0, 493.88, 587.33, 783.99},
        {329.63, 415.3, 493.88, 659.26},
    };

    PcmAudio audio;
    audio.sampleRate = kSynthSampleRate;
    audio.channels = 2;
    const int64_t frames = beat * beats;
    audio.samples.resize(static_cast<size_t>(frames) * 2);
    std::vector<double> mix(audio.samples.size());
    for (int64_t n = 0; n < frames; ++n)
    {
        const int64_t beatIndex = n / beat;
        const int64_t inBeat = n % beat;
        const int bar = static_cast<int>(beatIndex / kBeatsPerBar);

        const double kick = Kick(inBeat / rate);

        const double offBeat = (inBeat - eighth) / rate;
        const double bass = Pluck(offBeat, bassNotes[beatIndex % 8], 0.14, 3);

        int64_t inBeatStep = inBeat / sixteenth;
        if (inBeatStep > 3)
            inBeatStep = 3;
        const int64_t inSixteenth = inBeat - inBeatStep * sixteenth;
        const int64_t step = beatIndex * 4 + inBeatStep;
        // The chord on every sixteenth, its top note stepping up: a rich, moving middle.
        const double* chord = chordNotes[bar % 4];
        double mid = 0.0;
        for (int note = 0; note < 3; ++note)
            mid += Pluck(inSixteenth / rate, chord[note], 0.1, 10);
        mid = (mid + Pluck(inSixteenth / rate, chord[step % 4] * 2.0, 0.1, 6)) * 0.3;

        // Open hat on the off-beat, quieter closed hats on the other sixteenths.
        const double hat = Hat(inSixteenth, rate) * (inBeatStep == 2 ? 1.0 : 0.45);

        mix[static_cast<size_t>(n) * 2] = 0.6 * kick + 0.16 * bass + 0.3 * mid + 0.6 * hat;
        mix[static_cast<size_t>(n) * 2 + 1] = 0.6 * kick + 0.16 * bass + 0.22 * mid + 0.75 * hat;
    }

    // Peaks at -1 dBFS: loud, never clipped.
    double peak = 0.0;
    for (double value : mix)
        peak = std::max(peak, std::fabs(value));
    const double gain = peak > 0.0 ? 0.89 / peak : 1.0;
    for (size_t i = 0; i < mix.size(); ++i)
        audio.samples[i] = static_cast<int16_t>(std::lround(mix[i] * gain * 32767.0));
    return audio;
}
