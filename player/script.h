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
#include <istream>
#include <string>
#include <vector>

// A script larger than this is refused, rather than read without end; so is
// a line longer than a line needs to be.
const size_t kMaxScriptBytes = size_t(64) << 20;
const size_t kMaxLineBytes = 65536;

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
    int frame = 0;
    Kind kind = Move;
    int a = 0;
    int b = 0;
};

class InputScript
{
public:
    // Reads the script as a stream; on failure returns false with
    // "FILE:LINE: reason" (or "FILE: reason" for its size) in `error`.
    bool Load(const std::string& path, std::string& error);
    bool Parse(std::istream& in, const std::string& name, std::string& error);
    bool Parse(const std::string& text, const std::string& name, std::string& error);
    // Applies every step of `frame`, in file order.
    void Apply(int frame, InputTarget& target) const;
    // In frame order; the steps of one frame in file order.
    const std::vector<ScriptStep>& Steps() const { return m_Steps; }

private:
    std::vector<ScriptStep> m_Steps;
};

#endif
