#include "XmlTail.h"

#include <stdio.h>

#include <memory>
#include <new>
#include <string>
#include <tinyxml.h>

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

// Where the first sequence cut at the end starts, or `length` when none is.
size_t CutSequenceStart(const char* text, size_t length)
{
    // TinyXML turns "\r\n" and a lone '\r' into '\n' before it parses, which
    // can shorten the tail: look at the last bytes as it sees them.
    char tail[16];
    size_t at[16];
    size_t count = 0;
    for (size_t i = length > 12 ? length - 12 : 0; i < length; ++i)
    {
        if (text[i] == '\n' && i > 0 && text[i - 1] == '\r')
            continue;
        at[count] = i;
        tail[count++] = text[i] == '\r' ? '\n' : text[i];
    }
    for (size_t i = count > 3 ? count - 3 : 0; i < count; ++i)
    {
        if (SequenceLength(static_cast<unsigned char>(tail[i])) > count - i)
            return at[i];
    }
    return length;
}

bool ReadWholeFile(const char* path, std::string& text)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
        text.append(buffer, got);
    const bool read = !ferror(file);
    fclose(file);
    return read;
}
}

size_t XmlWholeLength(const char* text, size_t length)
{
    // Cutting one character can leave another cut one before it.
    for (size_t start = CutSequenceStart(text, length); start < length; start = CutSequenceStart(text, length))
        length = start;
    return length;
}

bool XmlTailIsWhole(const char* text, size_t length)
{
    return CutSequenceStart(text, length) == length;
}

static bool LoadWholeXmlDocument(TiXmlDocument& document)
{
    std::string text;
    // A file that cannot be read here is TinyXML's to fail the ordinary way;
    // TinyXML reads its own copy, so this one goes first.
    if (!ReadWholeFile(document.Value(), text) || XmlTailIsWhole(text.data(), text.size()))
    {
        std::string().swap(text);
        return document.LoadFile();
    }
    std::unique_ptr<FILE, int (*)(FILE*)> copy(tmpfile(), fclose);
    if (!copy)
        return false;
    const size_t whole = XmlWholeLength(text.data(), text.size());
    return fwrite(text.data(), 1, whole, copy.get()) == whole && fflush(copy.get()) == 0 &&
           fseek(copy.get(), 0, SEEK_SET) == 0 && document.LoadFile(copy.get());
}

bool LoadXmlDocument(TiXmlDocument& document)
{
    // A file too large for memory fails to load like any unreadable one.
    try
    {
        return LoadWholeXmlDocument(document);
    }
    catch (const std::bad_alloc&)
    {
        document.Clear();
        return false;
    }
}
