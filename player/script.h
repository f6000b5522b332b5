// Timed input for headless runs: a text file of lines "FRAME ACTION ARGS",
// applied just before that frame is rendered.
//
//   # comments and blank lines are skipped
//   10 move 400 300        mouse to client (400, 300)
//   12 lclick              left button released where the mouse is
//   12 rclick              right button released
//   20 key H               key pressed (names as VirtualKeyFromName)
//   30 command cycle-view  player command (names as CommandFromName, or an id)
//   40 resize 400 300      render window resized to 400 x 300
#ifndef VELMORA_PLAYER_SCRIPT_H
#define VELMORA_PLAYER_SCRIPT_H

#include "input.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <istream>
#include <string>

// A script larger than this is refused, rather than read without end; so is
// a line longer than a line needs to be.
const size_t kMaxScriptBytes = size_t(64) << 20;
const size_t kMaxLineBytes = 65536;
// The most steps one frame may have. A person's input within one 25 ms frame
// is a few events: a mouse reports at most 1000 times a second, 25 moves a
// frame, and a click or key now and then. Ten times that leaves room for any
// recorded session; the costliest step, a click that the module answers,
// takes about 12 us, so a full frame of them adds about 3 ms to its 25.
const int kMaxStepsPerFrame = 256;

// Packed, as a script may hold millions of steps: 12 bytes a step, less than
// one and a half times the shortest line that makes one ("0 key A" with its
// line break).
struct ScriptStep
{
    enum Kind
    {
        Move,
        LeftClick,
        RightClick,
        Key,
        Command,
        Resize
    };
    unsigned frame : 27; // up to 100,000,000
    Kind kind : 3;
    uint32_t line;       // in the file, for its messages
    uint16_t a;          // x, width, a virtual key or a command id
    uint16_t b;          // y, height
};
static_assert(sizeof(ScriptStep) == 12, "a step stays small");

class InputScript
{
public:
    // Reads the script as a stream; on failure returns false with
    // "FILE:LINE: reason" (or "FILE: reason" for its size) in `error`; the
    // reason for the first line in the file that is wrong, a step past a
    // frame's kMaxStepsPerFrame included.
    bool Load(const std::string& path, std::string& error);
    bool Parse(std::istream& in, const std::string& name, std::string& error);
    bool Parse(const std::string& text, const std::string& name, std::string& error);
    // Applies every step of `frame`, in file order.
    void Apply(int frame, InputTarget& target) const;
    // In frame order; the steps of one frame in file order.
    // Kept in blocks: growing never copies them, nor holds twice their memory.
    const std::deque<ScriptStep>& Steps() const { return m_Steps; }

private:
    // Puts the steps in frame order; returns the line of the first step in the
    // file past its frame's bound (with that frame), or 0.
    uint32_t SortAndFindCrowdedLine(int& frame);

    std::deque<ScriptStep> m_Steps;
};

#endif
