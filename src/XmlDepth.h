// A cheap look at an XML file's nesting before TinyXML parses it: TinyXML's
// parser recurses once per level of nested elements, so a file nested deeply
// enough runs it out of stack.
#ifndef VELMORA_XMLDEPTH_H
#define VELMORA_XMLDEPTH_H

// Far deeper than any file of ours nests.
const int kMaxXmlDepth = 256;

// False, with the log line "elements nested deeper than 256 levels in PATH" at
// (source, line), when the file's elements nest deeper than kMaxXmlDepth; with
// a null source, false without a line.
// True otherwise, also when the file cannot be read: TinyXML then fails it
// the ordinary way.
bool XmlNestingWithinLimit(const char* path, const char* source, int line);

// The deepest element nesting of an XML text read in pieces, as TinyXML would
// descend into it.
class CXmlDepthScan
{
public:
    void Feed(const char* text, unsigned long length);
    int Deepest() const { return m_Deepest; }

private:
    enum State
    {
        Text,
        Open,      // after '<'
        StartTag,  // inside <name ...>
        Quoted,    // inside an attribute value of a start tag
        EndTag,    // inside </name>
        Bang,      // after "<!": a comment, CDATA or a declaration
        Comment,   // until "-->"
        CData,     // until "]]>"
        SkipToEnd  // "<?...>", "<!...>" and anything TinyXML keeps as unknown
    };

    void Step(char c);
    bool BangStarts(const char* word) const;

    State m_State = Text;
    int m_Depth = 0;
    int m_Deepest = 0;
    char m_Quote = 0;
    char m_Previous = 0;
    char m_BeforePrevious = 0;
    char m_Bang[8] = {};  // what follows "<!", as far as it matches "--" or "[CDATA["
    int m_BangLength = 0;
};

#endif
