#include "script.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

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

static bool ReadInt(std::istringstream& in, int minimum, int& value)
{
    long long v = 0;
    if (!(in >> v) || v < minimum || v > 65535)
        return false;
    value = static_cast<int>(v);
    return true;
}

bool InputScript::Parse(std::istream& lines, const std::string& name, std::string& error)
{
    m_Steps.clear();
    std::string line;
    int number = 0;
    size_t size = 0;
    bool tooLong = false;
    while (ReadLine(lines, line, size, tooLong))
    {
        ++number;
        auto fail = [&](const std::string& why) {
            error = name + ":" + std::to_string(number) + ": " + why;
            m_Steps.clear();
            return false;
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

        ScriptStep step;
        char* end = nullptr;
        const long frame = strtol(first.c_str(), &end, 10);
        if (*end || frame < 0 || frame > 100000000)
            return fail("a line starts with its frame number");
        step.frame = static_cast<int>(frame);

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
            if (!(in >> key) || (step.a = static_cast<int>(VirtualKeyFromName(key))) == 0)
                return fail("unknown key '" + key + "'");
        }
        else if (action == "command")
        {
            step.kind = ScriptStep::Command;
            std::string command;
            if (!(in >> command) || (step.a = CommandFromName(command)) == 0)
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
    std::stable_sort(m_Steps.begin(), m_Steps.end(),
                     [](const ScriptStep& a, const ScriptStep& b) { return a.frame < b.frame; });
    return true;
}

void InputScript::Apply(int frame, InputTarget& target) const
{
    const auto first = std::lower_bound(m_Steps.begin(), m_Steps.end(), frame,
                                        [](const ScriptStep& step, int value) { return step.frame < value; });
    for (auto it = first; it != m_Steps.end() && it->frame == frame; ++it)
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
