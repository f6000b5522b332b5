// What a person does to the module: mouse, keys, player commands and window
// size, turned into the messages the render window receives. Messages are
// posted, so they reach the module between frames.
#ifndef VELMORA_PLAYER_INPUT_H
#define VELMORA_PLAYER_INPUT_H

#include <windows.h>

#include <string>

// The player's commands to the render window (WM_COMMAND ids).
enum PlayerCommand
{
    CommandNextPreset = 40382,
    CommandPreviousPreset = 40383,
    CommandToggleCycleView = 40384,
    CommandNextSpectrumProfile = 40391,
};

struct InputTarget
{
    HWND renderWindow = nullptr;
    HWND embeddedWindow = nullptr;
    // The last mouse position in client pixels; button releases happen there.
    int mouseX = 0;
    int mouseY = 0;
};

void PostMouseMove(InputTarget& target, int x, int y);
void PostLeftButtonUp(const InputTarget& target);
void PostRightButtonUp(const InputTarget& target);
void PostKeyDown(const InputTarget& target, WPARAM virtualKey);
void PostCommand(const InputTarget& target, int id);
// Resizes the render window's client area (and the embedded window around it);
// the render window receives WM_SIZE.
void ResizeRenderWindow(const InputTarget& target, int width, int height);

// Virtual-key code of a key name: a letter or digit ("H", "8"), "F1".."F12",
// "NUMPAD0".."NUMPAD9", "ESCAPE", "SPACE", "RETURN", "TAB", "LEFT", "RIGHT",
// "UP", "DOWN", or a number ("72", "0x48"). 0 when the name is unknown.
WPARAM VirtualKeyFromName(const std::string& name);
// Command id of a command name ("next-preset", "previous-preset",
// "cycle-view", "next-profile") or a number. 0 when unknown.
int CommandFromName(const std::string& name);

#endif
