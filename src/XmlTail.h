// TinyXML steps over a UTF-8 sequence by the length its first byte announces,
// even when the text ends sooner: a file whose last bytes start a longer
// sequence makes it read past the end of its buffer. Such a file is cut short;
// it is refused before TinyXML reads it.
#ifndef VELMORA_XMLTAIL_H
#define VELMORA_XMLTAIL_H

#include <stddef.h>

// Whether no byte among the last ones of `text` (as TinyXML sees it, with its
// line ends made single newlines) announces a sequence longer than what follows.
bool XmlTailIsWhole(const char* text, size_t length);

// The same for a file; true also when the file cannot be read: TinyXML then
// fails it the ordinary way.
bool XmlFileEndsWhole(const char* path);

#endif
