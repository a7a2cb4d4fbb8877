// Builds the default signature settings file from its readable table
// (data/FileSetting.csv), through the same record building as the signature
// editor. Usage: make_file_setting TABLE OUTPUT. Fails on any row the editor
// would refuse.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "carve/SignatureFile.h"
#include "platform/Text.h"

using namespace salvage;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_file_setting TABLE OUTPUT\n");
        return 2;
    }
    std::ifstream table(argv[1]);
    if (!table) {
        std::fprintf(stderr, "make_file_setting: cannot read %s\n", argv[1]);
        return 1;
    }
    RecordingReporter reporter;
    SignatureFileWriter writer;
    if (!writer.choose(argv[2], reporter)) {
        std::fprintf(stderr, "make_file_setting: cannot create %s\n", argv[2]);
        return 1;
    }
    std::string line;
    int lineNumber = 0, rows = 0;
    while (std::getline(table, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::size_t from = 0;
        for (;;) {
            std::size_t sep = line.find(';', from);
            f.push_back(line.substr(from, sep == std::string::npos ? std::string::npos : sep - from));
            if (sep == std::string::npos) break;
            from = sep + 1;
        }
        if (f.size() != 10) {
            std::fprintf(stderr, "%s:%d: expected 10 fields, found %zu\n", argv[1], lineNumber, f.size());
            return 1;
        }
        SignatureFields fields{u16(f[0]), u16(f[1]), u16(f[2]), u16(f[3]), u16(f[4]), f[5] == "yes",
                               u16(f[6]), u16(f[7]), u16(f[8]), u16(f[9])};
        if (!writer.appendSignature(fields, reporter)) {
            auto messages = reporter.messages();
            std::fprintf(stderr, "%s:%d: %s\n", argv[1], lineNumber,
                         messages.empty() ? "not written" : toUtf8(messages.back().text).c_str());
            return 1;
        }
        ++rows;
    }
    std::printf("make_file_setting: %d signature types\n", rows);
    return 0;
}
