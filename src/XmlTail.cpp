#include "XmlTail.h"

#include <stdio.h>

namespace
{
// The bytes a UTF-8 sequence starting with `c` takes; lead bytes that UTF-8
// does not use count as the longest, since nothing of ours ends with them.
size_t SequenceLength(unsigned char c)
{
    if (c >= 0xF0)
        return 4;
    if (c >= 0xE0)
        return 3;
    if (c >= 0xC0)
        return 2;
    return 1;
}
}

bool XmlTailIsWhole(const char* text, size_t length)
{
    // TinyXML turns "\r\n" and a lone '\r' into '\n' before it parses, which
    // can shorten the tail: look at the last bytes as it sees them.
    char tail[16];
    size_t count = 0;
    for (size_t i = length > 12 ? length - 12 : 0; i < length; ++i)
    {
        if (text[i] == '\n' && i > 0 && text[i - 1] == '\r')
            continue;
        tail[count++] = text[i] == '\r' ? '\n' : text[i];
    }
    for (size_t i = count > 3 ? count - 3 : 0; i < count; ++i)
    {
        if (SequenceLength(static_cast<unsigned char>(tail[i])) > count - i)
            return false;
    }
    return true;
}

bool XmlFileEndsWhole(const char* path)
{
    FILE* file = path ? fopen(path, "rb") : nullptr;
    if (!file)
        return true;
    char tail[12];
    size_t length = 0;
    bool whole = true;
    if (fseek(file, 0, SEEK_END) == 0)
    {
        const long size = ftell(file);
        const long start = size > static_cast<long>(sizeof(tail)) ? size - static_cast<long>(sizeof(tail)) : 0;
        if (size >= 0 && fseek(file, start, SEEK_SET) == 0)
        {
            length = fread(tail, 1, sizeof(tail), file);
            whole = XmlTailIsWhole(tail, length);
        }
    }
    fclose(file);
    return whole;
}
