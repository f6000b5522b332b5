// Stand-ins of the message box calls until the window manager is merged; its
// definitions replace these weak ones. Without a display the text goes to
// standard error and the answer is IDOK.
#include <velmora_platform.h>
#include <windows.h>

#include <stdio.h>

#include <string>

namespace {
int s_Count = 0;
std::string s_Text;
std::string s_Caption;
}  // namespace

extern "C" {

__attribute__((weak)) int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT)
{
    ++s_Count;
    s_Text = lpText ? lpText : "";
    s_Caption = lpCaption ? lpCaption : "";
    fprintf(stderr, "[%s] %s\n", s_Caption.c_str(), s_Text.c_str());
    return IDOK;
}

__attribute__((weak)) int VelmoraMessageBoxCount(void)
{
    return s_Count;
}

__attribute__((weak)) const char* VelmoraLastMessageBoxText(void)
{
    return s_Text.c_str();
}

__attribute__((weak)) const char* VelmoraLastMessageBoxCaption(void)
{
    return s_Caption.c_str();
}
}
