#include "script.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace
{
bool StepBefore(const ScriptStep& a, const ScriptStep& b)
{
    return a.frame != b.frame ? a.frame < b.frame : a.line < b.line;
}
}

bool InputScript::Load(const std::string& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
    {
        error = "cannot read the script " + path;
        return false;
    }
    return Parse(file, path, error);
}

bool InputScript::Parse(const std::string& text, const std::string& name, std::string& error)
{
    std::istringstream in(text);
    return Parse(in, name, error);
}

// The next line into `line`, counting its bytes into `size`; false at the end
// of the stream, or once the script is larger than a script may be (a stream
// without end, /dev/zero, stops there). A line longer than a line may be is
// cut, with `tooLong` set, so that memory stays that of one line.
static bool ReadLine(std::istream& in, std::string& line, size_t& size, bool& tooLong)
{
    line.clear();
    tooLong = false;
    std::streambuf* buffer = in.rdbuf();
    bool any = false;
    while (size <= kMaxScriptBytes)
    {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof())
            return any;
        ++size;
        any = true;
        if (c == '\n')
            return true;
        if (line.size() < kMaxLineBytes)
            line.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    return false;
}

static bool ReadInt(std::istringstream& in, int minimum, uint16_t& value)
{
    long long v = 0;
    if (!(in >> v) || v < minimum || v > 65535)
        return false;
    value = static_cast<uint16_t>(v);
    return true;
}

uint32_t InputScript::SortAndFindCrowdedLine(int& frame)
{
    // Frame and line together are unique: an in-place sort keeps the file's
    // order within a frame without a buffer the size of the steps.
    if (!std::is_sorted(m_Steps.begin(), m_Steps.end(), StepBefore))
        std::sort(m_Steps.begin(), m_Steps.end(), StepBefore);
    uint32_t first = 0;
    for (size_t run = 0; run < m_Steps.size();)
    {
        size_t end = run + 1;
        while (end < m_Steps.size() && m_Steps[end].frame == m_Steps[run].frame)
            ++end;
        if (end - run > static_cast<size_t>(kMaxStepsPerFrame))
        {
            const uint32_t line = m_Steps[run + kMaxStepsPerFrame].line;
            if (first == 0 || line < first)
            {
                first = line;
                frame = static_cast<int>(m_Steps[run].frame);
            }
        }
        run = end;
    }
    return first;
}

bool InputScript::Parse(std::istream& lines, const std::string& name, std::string& error)
{
    m_Steps.clear();
    std::string line;
    int number = 0;
    size_t size = 0;
    bool tooLong = false;
    auto failAt = [&](uint32_t at, const std::string& why) {
        error = name + ":" + std::to_string(at) + ": " + why;
        m_Steps.clear();
        return false;
    };
    auto crowded = [&](int frame) {
        return "more than " + std::to_string(kMaxStepsPerFrame) + " steps at frame " + std::to_string(frame);
    };
    while (ReadLine(lines, line, size, tooLong))
    {
        ++number;
        auto fail = [&](const std::string& why) {
            // A frame crowded before this line is the first fault in the file.
            int frame = 0;
            if (const uint32_t at = SortAndFindCrowdedLine(frame))
                return failAt(at, crowded(frame));
            return failAt(number, why);
        };
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash); // what was cut of a long line was comment too
        else if (tooLong)
            return fail("a line may hold at most " + std::to_string(kMaxLineBytes) + " bytes");
        std::istringstream in(line);
        std::string first;
        if (!(in >> first))
            continue;

        ScriptStep step = {};
        step.line = number;
        char* end = nullptr;
        const long frame = strtol(first.c_str(), &end, 10);
        if (*end || frame < 0 || frame > 100000000)
            return fail("a line starts with its frame number");
        step.frame = static_cast<unsigned>(frame);

        std::string action;
        if (!(in >> action))
            return fail("no action after the frame number");
        if (action == "move")
        {
            step.kind = ScriptStep::Move;
            if (!ReadInt(in, 0, step.a) || !ReadInt(in, 0, step.b))
                return fail("move takes x and y (0 to 65535)");
        }
        else if (action == "lclick")
            step.kind = ScriptStep::LeftClick;
        else if (action == "rclick")
            step.kind = ScriptStep::RightClick;
        else if (action == "key")
        {
            step.kind = ScriptStep::Key;
            std::string key;
            if (!(in >> key) || (step.a = static_cast<uint16_t>(VirtualKeyFromName(key))) == 0)
                return fail("unknown key '" + key + "'");
        }
        else if (action == "command")
        {
            step.kind = ScriptStep::Command;
            std::string command;
            if (!(in >> command) || (step.a = static_cast<uint16_t>(CommandFromName(command))) == 0)
                return fail("unknown command '" + command + "'");
        }
        else if (action == "resize")
        {
            step.kind = ScriptStep::Resize;
            if (!ReadInt(in, 0, step.a) || !ReadInt(in, 0, step.b))
                return fail("resize takes width and height (0 to 65535)");
        }
        else
            return fail("unknown action '" + action + "'");

        std::string extra;
        if (in >> extra)
            return fail("unexpected '" + extra + "'");
        m_Steps.push_back(step);
    }
    if (size > kMaxScriptBytes)
    {
        error = name + ": a script may hold at most " + std::to_string(kMaxScriptBytes >> 20) + " MB";
        m_Steps.clear();
        return false;
    }
    // Each frame looks up its own steps; a frame's steps keep their file order.
    int frame = 0;
    if (const uint32_t at = SortAndFindCrowdedLine(frame))
        return failAt(at, crowded(frame));
    return true;
}

void InputScript::Apply(int frame, InputTarget& target) const
{
    if (frame < 0)
        return;
    const unsigned wanted = static_cast<unsigned>(frame);
    const auto first = std::lower_bound(m_Steps.begin(), m_Steps.end(), wanted,
                                        [](const ScriptStep& step, unsigned value) { return step.frame < value; });
    for (auto it = first; it != m_Steps.end() && it->frame == wanted; ++it)
    {
        const ScriptStep& step = *it;
        switch (step.kind)
        {
        case ScriptStep::Move:
            PostMouseMove(target, step.a, step.b);
            break;
        case ScriptStep::LeftClick:
            PostLeftButtonUp(target);
            break;
        case ScriptStep::RightClick:
            PostRightButtonUp(target);
            break;
        case ScriptStep::Key:
            PostKeyDown(target, static_cast<WPARAM>(step.a));
            break;
        case ScriptStep::Command:
            PostCommand(target, step.a);
            break;
        case ScriptStep::Resize:
            ResizeRenderWindow(target, step.a, step.b);
            break;
        }
    }
}
