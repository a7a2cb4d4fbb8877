// Feeds files to one harness the way libFuzzer would: fuzz_replay NAME PATH...
// where each PATH is a file or a folder of files (a missing folder holds
// none). A crash or sanitizer report ends the program, failing the test.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "ReplayTable.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_replay HARNESS [FILE|FOLDER]...\n");
        return 2;
    }
    const ReplayHarness* h = kReplayHarnesses;
    while (h->name && std::strcmp(h->name, argv[1]) != 0) ++h;
    if (!h->name) {
        std::fprintf(stderr, "fuzz_replay: no harness %s\n", argv[1]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 2; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto& e : fs::directory_iterator(argv[i]))
                if (e.is_regular_file()) files.push_back(e.path());
        } else if (fs::is_regular_file(argv[i], ec)) {
            files.push_back(argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    // The empty input first: every harness must take it.
    h->run(nullptr, 0);
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::printf("%s: %s (%zu bytes)\n", h->name, f.filename().c_str(), bytes.size());
        std::fflush(stdout);
        h->run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%s: %zu inputs replayed\n", h->name, files.size());
    return 0;
}
