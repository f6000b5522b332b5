// Reader of the .x file's text and binary encodings. Both are turned into the
// same token stream (names, strings, numbers, braces), which one parser makes
// into the object tree. Every read is bounded by the file image.
#include "d3dx/xfile.h"

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace xfile {
namespace {

enum class Tok { End, Error, Name, String, Number, OBrace, CBrace, Guid, Template, Separator, Other };

struct Token {
    Tok kind = Tok::End;
    std::string text;
    double number = 0;
};

// Binary token codes.
enum : uint16_t {
    kName = 1,
    kString = 2,
    kInteger = 3,
    kGuid = 5,
    kIntegerList = 6,
    kFloatList = 7,
    kOBrace = 10,
    kCBrace = 11,
    kComma = 19,
    kSemicolon = 20,
    kTemplate = 31,
};

class Lexer
{
public:
    Lexer(const unsigned char* data, size_t size, bool binary, bool doubles)
        : m_Data(data), m_Size(size), m_Binary(binary), m_Doubles(doubles)
    {
    }

    Token Next() { return m_Binary ? NextBinary() : NextText(); }

private:
    bool Have(size_t n) const { return m_Size - m_Pos >= n; }
    uint16_t Word()
    {
        uint16_t v = (uint16_t)(m_Data[m_Pos] | (m_Data[m_Pos + 1] << 8));
        m_Pos += 2;
        return v;
    }
    uint32_t Dword()
    {
        uint32_t v = (uint32_t)m_Data[m_Pos] | ((uint32_t)m_Data[m_Pos + 1] << 8) |
                     ((uint32_t)m_Data[m_Pos + 2] << 16) | ((uint32_t)m_Data[m_Pos + 3] << 24);
        m_Pos += 4;
        return v;
    }
    static Token Make(Tok kind) { Token t; t.kind = kind; return t; }

    Token NextBinary()
    {
        // Elements of an integer or float list come out one at a time.
        if (m_ListLeft > 0) {
            --m_ListLeft;
            Token t = Make(Tok::Number);
            if (m_ListFloats && m_Doubles) {
                double d;
                memcpy(&d, m_Data + m_Pos, 8);
                m_Pos += 8;
                t.number = d;
            } else if (m_ListFloats) {
                uint32_t bits = Dword();
                float f;
                memcpy(&f, &bits, 4);
                t.number = f;
            } else {
                t.number = Dword();
            }
            return t;
        }
        if (m_Pos == m_Size)
            return Make(Tok::End);
        if (!Have(2))
            return Make(Tok::Error);
        const uint16_t code = Word();
        switch (code) {
        case kName:
        case kString: {
            if (!Have(4))
                return Make(Tok::Error);
            uint32_t n = Dword();
            if (!Have(n))
                return Make(Tok::Error);
            Token t = Make(code == kName ? Tok::Name : Tok::String);
            t.text.assign((const char*)m_Data + m_Pos, n);
            m_Pos += n;
            // A string ends with its separator token; some writers pad it to a DWORD.
            if (code == kString && Have(2) && (m_Data[m_Pos] == kComma || m_Data[m_Pos] == kSemicolon) &&
                m_Data[m_Pos + 1] == 0) {
                m_Pos += 2;
                if (Have(2) && m_Data[m_Pos] == 0 && m_Data[m_Pos + 1] == 0)
                    m_Pos += 2;
            }
            return t;
        }
        case kInteger: {
            if (!Have(4))
                return Make(Tok::Error);
            Token t = Make(Tok::Number);
            t.number = Dword();
            return t;
        }
        case kGuid:
            if (!Have(16))
                return Make(Tok::Error);
            m_Pos += 16;
            return Make(Tok::Guid);
        case kIntegerList:
        case kFloatList: {
            if (!Have(4))
                return Make(Tok::Error);
            uint32_t n = Dword();
            size_t each = code == kFloatList && m_Doubles ? 8 : 4;
            if (n > (m_Size - m_Pos) / each)
                return Make(Tok::Error);
            m_ListLeft = n;
            m_ListFloats = code == kFloatList;
            return Make(Tok::Separator);
        }
        case kOBrace:
            return Make(Tok::OBrace);
        case kCBrace:
            return Make(Tok::CBrace);
        case kComma:
        case kSemicolon:
            return Make(Tok::Separator);
        case kTemplate:
            return Make(Tok::Template);
        default:
            // Parentheses, brackets, angles, dots and type words appear in templates only.
            if ((code >= 12 && code <= 18) || (code >= 40 && code <= 52))
                return Make(Tok::Other);
            return Make(Tok::Error);
        }
    }

    static bool IsDelimiter(unsigned char c)
    {
        return c <= ' ' || c == '{' || c == '}' || c == ',' || c == ';' || c == '"' || c == '<' || c == '>' ||
               c == '[' || c == ']' || c == '(' || c == ')';
    }

    Token NextText()
    {
        for (;;) {
            while (m_Pos < m_Size && m_Data[m_Pos] <= ' ')
                ++m_Pos;
            if (m_Pos == m_Size)
                return Make(Tok::End);
            const unsigned char c = m_Data[m_Pos];
            if (c == '#' || (c == '/' && m_Pos + 1 < m_Size && m_Data[m_Pos + 1] == '/')) {
                while (m_Pos < m_Size && m_Data[m_Pos] != '\n')
                    ++m_Pos;
                continue;
            }
            break;
        }
        const unsigned char c = m_Data[m_Pos++];
        switch (c) {
        case '{':
            return Make(Tok::OBrace);
        case '}':
            return Make(Tok::CBrace);
        case ',':
        case ';':
            return Make(Tok::Separator);
        case '[':
        case ']':
        case '(':
        case ')':
            return Make(Tok::Other);
        case '<': {
            while (m_Pos < m_Size && m_Data[m_Pos] != '>')
                ++m_Pos;
            if (m_Pos == m_Size)
                return Make(Tok::Error);
            ++m_Pos;
            return Make(Tok::Guid);
        }
        case '"': {
            Token t = Make(Tok::String);
            for (;;) {
                if (m_Pos == m_Size)
                    return Make(Tok::Error);
                unsigned char s = m_Data[m_Pos++];
                if (s == '"')
                    break;
                if (s == '\\' && m_Pos < m_Size && (m_Data[m_Pos] == '\\' || m_Data[m_Pos] == '"'))
                    s = m_Data[m_Pos++];
                t.text.push_back((char)s);
            }
            return t;
        }
        default:
            break;
        }
        const size_t start = m_Pos - 1;
        while (m_Pos < m_Size && !IsDelimiter(m_Data[m_Pos]))
            ++m_Pos;
        std::string word((const char*)m_Data + start, m_Pos - start);
        if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
            Token t = Make(Tok::Number);
            t.number = strtod(word.c_str(), nullptr);
            if (!isfinite(t.number))
                t.number = 0;
            return t;
        }
        if (strcasecmp(word.c_str(), "template") == 0)
            return Make(Tok::Template);
        Token t = Make(Tok::Name);
        t.text = word;
        return t;
    }

    const unsigned char* m_Data;
    size_t m_Size;
    size_t m_Pos = 16;
    bool m_Binary;
    bool m_Doubles;
    uint32_t m_ListLeft = 0;
    bool m_ListFloats = false;
};

const int kMaxDepth = 128;

class Parser
{
public:
    explicit Parser(Lexer& lexer) : m_Lexer(lexer) {}

    bool File(std::vector<Node>& top)
    {
        for (;;) {
            Token t = m_Lexer.Next();
            switch (t.kind) {
            case Tok::End:
                return true;
            case Tok::Template:
                if (!SkipTemplate())
                    return false;
                break;
            case Tok::Name:
                top.emplace_back();
                if (!Object(t.text, top.back(), 0))
                    return false;
                break;
            case Tok::Separator:
                break;
            default:
                return false;
            }
        }
    }

private:
    bool SkipTemplate()
    {
        Token t = m_Lexer.Next();
        if (t.kind != Tok::Name)
            return false;
        int depth = 0;
        for (;;) {
            t = m_Lexer.Next();
            if (t.kind == Tok::End || t.kind == Tok::Error)
                return false;
            if (t.kind == Tok::OBrace)
                ++depth;
            else if (t.kind == Tok::CBrace && --depth <= 0)
                return depth == 0;
        }
    }

    // After the type name: [name] [guid] { members, objects and references }.
    bool Object(const std::string& type, Node& node, int depth)
    {
        if (depth > kMaxDepth)
            return false;
        node.type = type;
        Token t = m_Lexer.Next();
        if (t.kind == Tok::Name) {
            node.name = t.text;
            t = m_Lexer.Next();
        }
        if (t.kind == Tok::Guid)
            t = m_Lexer.Next();
        if (t.kind != Tok::OBrace)
            return false;
        for (;;) {
            t = m_Lexer.Next();
            switch (t.kind) {
            case Tok::CBrace:
                return true;
            case Tok::Number:
                node.numbers.push_back(t.number);
                break;
            case Tok::String:
                node.strings.push_back(t.text);
                break;
            case Tok::Separator:
            case Tok::Guid:
                break;
            case Tok::Name:
                node.children.emplace_back();
                if (!Object(t.text, node.children.back(), depth + 1))
                    return false;
                break;
            case Tok::OBrace: {
                Node ref;
                ref.reference = true;
                for (;;) {
                    t = m_Lexer.Next();
                    if (t.kind == Tok::CBrace)
                        break;
                    if (t.kind == Tok::Name && ref.name.empty())
                        ref.name = t.text;
                    else if (t.kind != Tok::Guid)
                        return false;
                }
                node.children.push_back(std::move(ref));
                break;
            }
            default:
                return false;
            }
        }
    }

    Lexer& m_Lexer;
};

}  // namespace

Result Parse(const unsigned char* data, size_t size, std::vector<Node>& top)
{
    top.clear();
    if (!data || size < 16 || memcmp(data, "xof ", 4) != 0)
        return Result::NotXFile;
    const char* format = (const char*)data + 8;
    const char* floats = (const char*)data + 12;
    bool binary;
    if (memcmp(format, "txt ", 4) == 0)
        binary = false;
    else if (memcmp(format, "bin ", 4) == 0)
        binary = true;
    else if (memcmp(format, "tzip", 4) == 0 || memcmp(format, "bzip", 4) == 0)
        return Result::Compressed;
    else
        return Result::NotXFile;
    bool doubles;
    if (memcmp(floats, "0032", 4) == 0)
        doubles = false;
    else if (memcmp(floats, "0064", 4) == 0)
        doubles = true;
    else
        return Result::NotXFile;
    Lexer lexer(data, size, binary, doubles);
    Parser parser(lexer);
    if (!parser.File(top)) {
        top.clear();
        return Result::Malformed;
    }
    return Result::Ok;
}

}  // namespace xfile
