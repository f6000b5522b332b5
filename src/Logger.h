// The module's log: one text file, appended line by line, with named
// sections that indent what is written inside them.
#ifndef VELMORA_LOGGER_H
#define VELMORA_LOGGER_H

#include <string>

class CLogger
{
public:
    explicit CLogger(const char* fileName);
    ~CLogger();

    void End();
    void Reset();
    void SetFile(const char* name);
    void SetLocation(const char* sourcePath, int line);
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Write(const std::string& text);
    void WriteLine(const std::string& message);
    void TabStart(const char* name);
    void TabEnd(const char* name);

    const std::string& GetFileName() const { return m_FileName; }
    int GetIndent() const { return m_Indent; }

private:
    // The message with the pending location and the indent, as a line.
    std::string Decorated(const std::string& message);

    std::string m_FileName;
    int m_Indent;
    int m_PendingLine;
    const char* m_PendingSource;
};

// A named log section: open for the lifetime of the object.
class CLogScope
{
public:
    CLogScope(CLogger* logger, const char* name, int line, const char* sourcePath);
    ~CLogScope();

    CLogScope(const CLogScope&) = delete;
    CLogScope& operator=(const CLogScope&) = delete;

private:
    const char* m_Name;
    int m_Line;
    const char* m_SourcePath;
    CLogger* m_Logger;
};

extern CLogger g_Logger;

#endif
