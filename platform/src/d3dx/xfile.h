// The DirectX .x file as a tree of data objects, read from its text or
// binary form. Templates are skipped: the loader knows the ones it reads.
#ifndef VELMORA_D3DX_XFILE_H
#define VELMORA_D3DX_XFILE_H

#include <stddef.h>

#include <string>
#include <vector>

namespace xfile {

// A data object: its template name, its own name, its members flattened into
// one list of numbers and strings (separators dropped), and its nested
// objects and references in file order.
struct Node {
    std::string type;
    std::string name;
    bool reference = false;  // "{ name }": only the name is set
    std::vector<double> numbers;
    std::vector<std::string> strings;
    std::vector<Node> children;
};

enum class Result { Ok, NotXFile, Compressed, Malformed };

// Reads the whole file image into its top-level objects.
Result Parse(const unsigned char* data, size_t size, std::vector<Node>& top);

}  // namespace xfile

#endif
