#include "Logger.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <new>
#include <string>

CLogger::CLogger(const char* fileName)
{
    Reset();
    SetFile(fileName);
    Printf("\n========[LOG START]========\n");
}

CLogger::~CLogger()
{
    End();
}

void CLogger::End()
{
    Printf("\n========[LOG END]========");
    Reset();
}

void CLogger::Reset()
{
    m_PendingSource = nullptr;
    m_Indent = 0;
    m_PendingLine = -1;
    m_FileName.clear();
}

void CLogger::SetFile(const char* name)
{
    m_FileName = name ? name : "";
    remove(m_FileName.c_str());
}

void CLogger::SetLocation(const char* sourcePath, int line)
{
    m_PendingLine = line;
    if (!sourcePath)
    {
        m_PendingSource = nullptr;
        return;
    }
    const char* base = strrchr(sourcePath, '\\');
    if (!base)
        base = strrchr(sourcePath, '/');
    m_PendingSource = base ? base + 1 : sourcePath;
}

void CLogger::Printf(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    // _vsnprintf leaves a text that fills the buffer unterminated: the last
    // byte is forced to the terminator, so 1023 characters are kept.
    _vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    buffer[sizeof(buffer) - 1] = '\0';
    // Out of memory loses the line, never the program: loaders log as they fail.
    try
    {
        WriteLine(buffer);
    }
    catch (const std::bad_alloc&)
    {
    }
}

void CLogger::Write(const std::string& text)
{
    WriteLine(text);
}

void CLogger::WriteLine(const std::string& message)
{
    FILE* file = fopen(m_FileName.c_str(), "a+");
    if (!file)
        return;
    std::string line;
    try
    {
        line = Decorated(message);
    }
    catch (const std::bad_alloc&)
    {
        fclose(file);
        return;
    }
    fputs(line.c_str(), file);
    fclose(file);
}

std::string CLogger::Decorated(const std::string& message)
{
    std::string line;
    if (m_PendingSource)
    {
        // A base name longer than 16 characters widens the field, it is never cut.
        int length = snprintf(nullptr, 0, "[%16s::%4d]", m_PendingSource, m_PendingLine);
        if (length > 0)
        {
            std::string location(static_cast<size_t>(length) + 1, '\0');
            snprintf(&location[0], location.size(), "[%16s::%4d]", m_PendingSource, m_PendingLine);
            location.resize(static_cast<size_t>(length));
            line = location;
        }
        m_PendingSource = nullptr;
        m_PendingLine = 0;
    }
    line.append(static_cast<size_t>(m_Indent) + 1, '\t');
    line += message;
    line += '\n';
    return line;
}

void CLogger::TabStart(const char* name)
{
    Printf("====[%s Tab Start]====", name);
    ++m_Indent;
}

void CLogger::TabEnd(const char* name)
{
    --m_Indent;
    if (m_Indent < 0)
        m_Indent = 0;
    Printf("====[%s Tab End]====", name);
}

CLogScope::CLogScope(CLogger* logger, const char* name, int line, const char* sourcePath)
    : m_Name(name), m_Line(line), m_SourcePath(sourcePath), m_Logger(logger)
{
    m_Logger->SetLocation(m_SourcePath, m_Line);
    m_Logger->TabStart(m_Name);
}

CLogScope::~CLogScope()
{
    m_Logger->SetLocation(m_SourcePath, m_Line);
    m_Logger->TabEnd(m_Name);
}
