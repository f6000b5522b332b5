#include "XmlDepth.h"

#include "Logger.h"
#include "plugin.h"

#include <stdio.h>
#include <string.h>

namespace
{
// The characters with which TinyXML starts an element's name.
bool StartsName(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u >= 127;
}
}

void CXmlDepthScan::Feed(const char* text, unsigned long length)
{
    for (unsigned long i = 0; i < length; ++i)
        Step(text[i]);
}

bool CXmlDepthScan::BangStarts(const char* word) const
{
    return static_cast<size_t>(m_BangLength) <= strlen(word) && strncmp(m_Bang, word, m_BangLength) == 0;
}

void CXmlDepthScan::Step(char c)
{
    switch (m_State) {
    case Text:
        if (c == '<')
            m_State = Open;
        break;
    case Open:
        if (c == '/') {
            m_State = EndTag;
        } else if (c == '!') {
            m_State = Bang;
            m_BangLength = 0;
        } else if (StartsName(c)) {
            m_State = StartTag;
            if (++m_Depth > m_Deepest)
                m_Deepest = m_Depth;
        } else {
            m_State = c == '>' ? Text : SkipToEnd;
        }
        break;
    case StartTag:
        if (c == '"' || c == '\'') {
            m_Quote = c;
            m_State = Quoted;
        } else if (c == '>') {
            if (m_Previous == '/')
                --m_Depth;
            m_State = Text;
        }
        break;
    case Quoted:
        if (c == m_Quote)
            m_State = StartTag;
        break;
    case EndTag:
        if (c == '>') {
            if (m_Depth > 0)
                --m_Depth;
            m_State = Text;
        }
        break;
    case Bang:
        // "<!--" opens a comment and "<![CDATA[" a CDATA section; anything else runs to '>'.
        m_Bang[m_BangLength++] = c;
        if (BangStarts("--")) {
            if (m_BangLength == 2) {
                m_State = Comment;
                c = 0; // the dashes that open a comment do not close it
            }
        } else if (BangStarts("[CDATA[")) {
            if (m_BangLength == 7)
                m_State = CData;
        } else {
            m_State = c == '>' ? Text : SkipToEnd;
        }
        break;
    case Comment:
        if (c == '>' && m_Previous == '-' && m_BeforePrevious == '-')
            m_State = Text;
        break;
    case CData:
        if (c == '>' && m_Previous == ']' && m_BeforePrevious == ']')
            m_State = Text;
        break;
    case SkipToEnd:
        if (c == '>')
            m_State = Text;
        break;
    }
    m_BeforePrevious = m_Previous;
    m_Previous = c;
}

bool XmlNestingWithinLimit(const char* path, const char* source, int line)
{
    FILE* file = path ? fopen(path, "rb") : nullptr;
    if (!file)
        return true;
    CXmlDepthScan scan;
    char buffer[16384];
    size_t read;
    while (scan.Deepest() <= kMaxXmlDepth && (read = fread(buffer, 1, sizeof(buffer), file)) > 0)
        scan.Feed(buffer, read);
    fclose(file);
    if (scan.Deepest() <= kMaxXmlDepth)
        return true;
    if (!source)
        return false;
    g_Logger.SetLocation(source, line);
    g_Logger.Printf("elements nested deeper than %d levels in %s", kMaxXmlDepth, path);
    return false;
}
