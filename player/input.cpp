#include "input.h"

#include <ctype.h>
#include <stdlib.h>

#include <algorithm>

void PostMouseMove(InputTarget& target, int x, int y)
{
    target.mouseX = x;
    target.mouseY = y;
    PostMessageA(target.renderWindow, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
}

void PostLeftButtonUp(const InputTarget& target)
{
    PostMessageA(target.renderWindow, WM_LBUTTONUP, 0, MAKELPARAM(target.mouseX, target.mouseY));
}

void PostRightButtonUp(const InputTarget& target)
{
    PostMessageA(target.renderWindow, WM_RBUTTONUP, 0, MAKELPARAM(target.mouseX, target.mouseY));
}

void PostKeyDown(const InputTarget& target, WPARAM virtualKey)
{
    PostMessageA(target.renderWindow, WM_KEYDOWN, virtualKey, 1);
}

void PostCommand(const InputTarget& target, int id)
{
    PostMessageA(target.renderWindow, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void ResizeRenderWindow(const InputTarget& target, int width, int height)
{
    if (width < 0 || height < 0)
        return;
    RECT render = {};
    if (!GetWindowRect(target.renderWindow, &render))
        return;
    RECT embedded = {};
    if (target.embeddedWindow && GetWindowRect(target.embeddedWindow, &embedded))
    {
        // The render window keeps its place inside the embedded window.
        const int x = render.left - embedded.left;
        const int y = render.top - embedded.top;
        SetWindowPos(target.embeddedWindow, nullptr, 0, 0, x + width, y + height, SWP_NOMOVE | SWP_NOZORDER);
    }
    SetWindowPos(target.renderWindow, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
}

static std::string Upper(const std::string& text)
{
    std::string result = text;
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(toupper(c)); });
    return result;
}

static bool ParseNumber(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = strtol(text.c_str(), &end, 0);
    return *end == '\0';
}

WPARAM VirtualKeyFromName(const std::string& name)
{
    const std::string key = Upper(name);
    if (key.size() == 1 && isalnum(static_cast<unsigned char>(key[0])))
        return static_cast<WPARAM>(key[0]);
    if (key.size() >= 2 && key[0] == 'F' && isdigit(static_cast<unsigned char>(key[1])))
    {
        long n = 0;
        if (ParseNumber(key.substr(1), n) && n >= 1 && n <= 12)
            return static_cast<WPARAM>(VK_F1 + n - 1);
        return 0;
    }
    if (key.size() == 7 && key.compare(0, 6, "NUMPAD") == 0 && isdigit(static_cast<unsigned char>(key[6])))
        return static_cast<WPARAM>(VK_NUMPAD0 + (key[6] - '0'));
    static const struct
    {
        const char* name;
        WPARAM code;
    } kNamed[] = {{"ESCAPE", VK_ESCAPE}, {"SPACE", VK_SPACE}, {"RETURN", VK_RETURN}, {"TAB", VK_TAB},
                  {"LEFT", VK_LEFT},     {"RIGHT", VK_RIGHT}, {"UP", VK_UP},         {"DOWN", VK_DOWN}};
    for (const auto& named : kNamed)
        if (key == named.name)
            return named.code;
    long number = 0;
    if (ParseNumber(name, number) && number > 0 && number < 256)
        return static_cast<WPARAM>(number);
    return 0;
}

int CommandFromName(const std::string& name)
{
    if (name == "next-preset")
        return CommandNextPreset;
    if (name == "previous-preset")
        return CommandPreviousPreset;
    if (name == "cycle-view")
        return CommandToggleCycleView;
    if (name == "next-profile")
        return CommandNextSpectrumProfile;
    long number = 0;
    if (ParseNumber(name, number) && number > 0 && number <= 0xFFFF)
        return static_cast<int>(number);
    return 0;
}
