// TinyXML steps over a UTF-8 sequence by the length its first byte announces,
// even when the text ends sooner: a file whose last bytes start a longer
// sequence makes it read past the end of its buffer. Such a file is handed to
// TinyXML without its cut character, so that it reads what is there.
#ifndef VELMORA_XMLTAIL_H
#define VELMORA_XMLTAIL_H

#include <stddef.h>

class TiXmlDocument;

// The length of `text` without the UTF-8 sequences cut at its end (as TinyXML
// sees the last bytes, with its line ends made single newlines).
size_t XmlWholeLength(const char* text, size_t length);

// Whether no byte among the last ones of `text` announces a sequence longer
// than what follows.
bool XmlTailIsWhole(const char* text, size_t length);

// TiXmlDocument::LoadFile on the document's own path; a file that ends inside
// a character is loaded from a copy without that character.
bool LoadXmlDocument(TiXmlDocument& document);

#endif
