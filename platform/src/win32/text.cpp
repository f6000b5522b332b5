// Formatting calls of the Win32 subset.
#include <windows.h>

#include <stdio.h>

extern "C" {

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args)
{
    // As the Windows runtime: -1 when the text did not fit, and then no terminator is promised.
    int n = vsnprintf(buffer, count, format, args);
    if (n < 0 || static_cast<size_t>(n) >= count)
        return -1;
    return n;
}

int _snprintf(char* buffer, size_t count, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return n;
}

int wvsprintfA(LPSTR out, LPCSTR format, va_list args)
{
    // wsprintf writes at most 1024 characters, terminator included.
    int n = vsnprintf(out, 1024, format, args);
    if (n < 0)
        return 0;
    return n > 1023 ? 1023 : n;
}

int wsprintfA(LPSTR out, LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(out, format, args);
    va_end(args);
    return n;
}

}
