#include "script.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
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

// The length of the UTF-8 sequence of a printable character at `s`, or 0:
// control characters (C1 included), overlong forms, surrogates and broken
// sequences are not text.
static size_t PrintableUtf8(const unsigned char* s, size_t left)
{
    // The lead byte gives the length, its own bits of the code point, and
    // the least code point that needs that length.
    static const struct
    {
        unsigned char first, last;
        size_t length;
        uint32_t bits, least;
    } kLeads[] = {{0xC2, 0xDF, 2, 0x1F, 0xA0}, {0xE0, 0xEF, 3, 0x0F, 0x800}, {0xF0, 0xF4, 4, 0x07, 0x10000}};
    const auto* lead = std::find_if(std::begin(kLeads), std::end(kLeads),
                                    [&](const auto& l) { return s[0] >= l.first && s[0] <= l.last; });
    if (lead == std::end(kLeads) || lead->length > left)
        return 0;
    const size_t length = lead->length;
    const uint32_t least = lead->least;
    uint32_t code = s[0] & lead->bits;
    for (size_t i = 1; i < length; ++i)
    {
        if ((s[i] & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (s[i] & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// A word of the script as its messages quote it: a byte that cannot be
// printed as \xHH, so that a NUL does not end the message and the terminal
// gets no raw bytes.
static std::string Quoted(const std::string& word)
{
    std::string shown = "'";
    const auto* bytes = reinterpret_cast<const unsigned char*>(word.data());
    for (size_t i = 0; i < word.size();)
    {
        const size_t text = bytes[i] >= 0x20 && bytes[i] < 0x7F ? 1 : PrintableUtf8(bytes + i, word.size() - i);
        if (text > 0)
        {
            shown.append(word, i, text);
            i += text;
            continue;
        }
        char escaped[5];
        snprintf(escaped, sizeof(escaped), "\\x%02X", bytes[i]);
        shown += escaped;
        ++i;
    }
    return shown + "'";
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
        // Many editors start a UTF-8 file with a byte-order mark.
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
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
                return fail("unknown key " + Quoted(key));
        }
        else if (action == "command")
        {
            step.kind = ScriptStep::Command;
            std::string command;
            if (!(in >> command) || (step.a = static_cast<uint16_t>(CommandFromName(command))) == 0)
                return fail("unknown command " + Quoted(command));
        }
        else if (action == "resize")
        {
            step.kind = ScriptStep::Resize;
            if (!ReadInt(in, 0, step.a) || !ReadInt(in, 0, step.b))
                return fail("resize takes width and height (0 to 65535)");
        }
        else
            return fail("unknown action " + Quoted(action));

        std::string extra;
        if (in >> extra)
            return fail("unexpected " + Quoted(extra));
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
