// Runs a fuzz target's inputs without libFuzzer, for the builds whose
// sanitizer libFuzzer does not take (ThreadSanitizer):
//
//   replay_TARGET [-mutants=N] [-seed=S] FILE|FOLDER...
//
// Each file named, and each file of each folder named, runs once, in name
// order; with -mutants=N, then N variants of it made by a fixed sequence of
// byte changes (the same every run; -seed picks another sequence). Each input is written to
// ./replay-input before it runs, so that the one that fails is kept.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

struct Random {
    uint32_t state = 0x2545f491u;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    size_t Below(size_t n) { return n ? Next() % n : 0; }
};

// A few byte changes: overwritten, bumped, inserted, erased or copied bytes.
std::vector<uint8_t> Mutant(std::vector<uint8_t> bytes, Random& random)
{
    const int changes = 1 + (int)random.Below(4);
    for (int c = 0; c < changes; ++c) {
        const size_t at = random.Below(bytes.size());
        switch (random.Below(5)) {
        case 0:
            if (!bytes.empty())
                bytes[at] = (uint8_t)random.Next();
            break;
        case 1:
            if (!bytes.empty())
                bytes[at] = (uint8_t)(bytes[at] + 1 - 2 * (int)random.Below(2));
            break;
        case 2:
            bytes.insert(bytes.begin() + (ptrdiff_t)at, (uint8_t)random.Next());
            break;
        case 3:
            if (bytes.size() > 1)
                bytes.erase(bytes.begin() + (ptrdiff_t)at);
            break;
        default: {
            const size_t from = random.Below(bytes.size()), length = std::min<size_t>(random.Below(16), bytes.size() - from);
            const std::vector<uint8_t> piece(bytes.begin() + (ptrdiff_t)from, bytes.begin() + (ptrdiff_t)(from + length));
            bytes.insert(bytes.begin() + (ptrdiff_t)at, piece.begin(), piece.end());
            break;
        }
        }
    }
    return bytes;
}

void RunOne(const std::vector<uint8_t>& bytes)
{
    if (FILE* kept = fopen("replay-input", "wb")) {
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), kept);
        fclose(kept);
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> files;
    long mutants = 0;
    Random random;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "-mutants=", 9) == 0)
            mutants = atol(argv[i] + 9);
        else if (strncmp(argv[i], "-seed=", 6) == 0)
            random.state = ((uint32_t)strtoul(argv[i] + 6, nullptr, 0) * 0x9e3779b9u) | 1;
        else if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path().string());
        } else {
            files.push_back(argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    size_t runs = 0;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 1;
        }
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(stderr, "replay: %s\n", file.c_str());
        RunOne(bytes);
        for (long m = 0; m < mutants; ++m)
            RunOne(Mutant(bytes, random));
        runs += 1 + (size_t)mutants;
    }
    remove("replay-input");
    fprintf(stderr, "replay: %zu inputs\n", runs);
    return 0;
}
