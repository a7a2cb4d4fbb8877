// Carving throughput next to a plain sequential read and the peers foremost
// and photorec, on one image in one run, with the number of planted files
// each finds at its offset.
//
// Usage: bench_carve [FILES_DIR [SETTINGS [SIZE_MIB]]]
//   FILES_DIR  the carving fixture's planted files (default: the build's fixtures/carve_files)
//   SETTINGS   signature settings file (default: the build's FileSetting.txt)
// The image is made in a temporary folder: pseudo-random sectors with the
// JPEG, PNG, GIF, BMP, PDF, ZIP and WAV files planted at sector starts, one
// per MiB. Results go to stdout; nothing here is a pass/fail test.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "carve/CarveWriter.h"
#include "carve/SignatureFile.h"
#include "carve/myJpg.h"
#include "image/SectorSource.h"
#include "platform/Text.h"

namespace fs = std::filesystem;
using namespace salvage;
using Clock = std::chrono::steady_clock;

namespace {
double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

std::vector<std::uint8_t> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Offsets named by a peer's output files: the digits of each name are the
// file's start sector.
std::set<std::uint64_t> sectorsNamed(const fs::path& dir, const std::regex& pattern) {
    std::set<std::uint64_t> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); ++it) {
        std::smatch m;
        std::string name = it->path().filename().string();
        if (std::regex_match(name, m, pattern)) out.insert(std::stoull(m[1]) * 512);
    }
    return out;
}

struct Row {
    std::string tool;
    double secs = 0;
    std::size_t found = 0;
};
}  // namespace

int main(int argc, char** argv) {
    fs::path exeDir = fs::read_symlink("/proc/self/exe").parent_path();
    fs::path filesDir = argc > 1 ? fs::path(argv[1]) : exeDir.parent_path() / "fixtures" / "carve_files";
    fs::path settings = argc > 2 ? fs::path(argv[2]) : exeDir.parent_path() / "FileSetting.txt";
    std::int64_t mib = argc > 3 ? std::atoll(argv[3]) : 256;
    const std::vector<std::string> planted = {"a.jpg", "b.jpg", "c.png", "g.png", "d.gif", "e.bmp", "i.pdf", "j.zip", "k.wav"};
    std::vector<std::vector<std::uint8_t>> files;
    for (const auto& n : planted) {
        files.push_back(readFile(filesDir / n));
        if (files.back().empty()) {
            std::fprintf(stderr, "bench_carve: %s missing (build the fixtures target)\n", (filesDir / n).c_str());
            return 1;
        }
    }

    fs::path work = fs::temp_directory_path() / ("bench_carve." + std::to_string(::getpid()));
    fs::create_directories(work);
    fs::path image = work / "bench.img";
    std::set<std::uint64_t> offsets;
    {
        std::ofstream out(image, std::ios::binary);
        std::vector<std::uint8_t> chunk(1 << 20);
        std::uint64_t x = 0x9E3779B97F4A7C15ull;
        for (std::int64_t c = 0; c < mib; ++c) {
            for (std::size_t i = 0; i < chunk.size(); i += 8) {
                x ^= x << 13, x ^= x >> 7, x ^= x << 17;
                std::memcpy(chunk.data() + i, &x, 8);
            }
            const auto& f = files[std::size_t(c) % files.size()];
            std::size_t at = std::size_t(c % 7) * 3 * 512;  // staggered sector starts
            if (c + 1 < mib && at + f.size() <= chunk.size()) {
                std::copy(f.begin(), f.end(), chunk.begin() + std::ptrdiff_t(at));
                offsets.insert(std::uint64_t(c) * chunk.size() + at);
            }
            out.write(reinterpret_cast<const char*>(chunk.data()), std::streamsize(chunk.size()));
        }
    }
    const double megabytes = double(mib);
    std::vector<Row> rows;

    // Two plain reads: the first brings the image into the page cache, so
    // every tool below reads it from memory alike.
    for (int pass = 0; pass < 2; ++pass) {
        FileReadSeek src;
        src.open(image);
        std::vector<std::uint8_t> buf(1 << 20);
        auto t = Clock::now();
        for (std::int64_t c = 0; c < mib; ++c) readAt(src, c << 20, buf.data(), std::uint32_t(buf.size()));
        if (pass == 1) rows.push_back({"plain 1 MiB reads", seconds(t), 0});
    }

    {
        std::unique_ptr<myJpg> engine;
        loadDefaultSignatures(settings, engine, nullReporter());
        if (!engine) {
            std::fprintf(stderr, "bench_carve: cannot load %s\n", settings.c_str());
            return 1;
        }
        FileReadSeek src;
        src.open(image);
        engine->source = &src;
        engine->volumeBytes = mib << 20;
        auto t = Clock::now();
        engine->scanVolume();
        Row r{"salvage carve (scan)", seconds(t), 0};
        for (const auto& f : engine->foundFiles) r.found += offsets.count(f.start);
        rows.push_back(r);
        // Writing every find, trimmed, with hashes: what the peers' times include.
        std::vector<std::size_t> all(engine->foundFiles.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
        CarveWriter writer(src, mib << 20, work / "salvage");
        writer.write(*engine, all);
        r.tool = "salvage carve (+ write)";
        r.secs = seconds(t);
        rows.push_back(r);
        std::uint64_t written = 0, trimmed = 0;
        for (const auto& c : writer.carved()) written += c.writtenBytes, trimmed += c.trimmed;
        std::printf("salvage wrote %zu files, %llu trimmed, %.1f MiB\n", writer.carved().size(),
                    (unsigned long long)trimmed, double(written) / (1 << 20));
    }

    if (have("foremost")) {
        fs::path out = work / "foremost";
        auto t = Clock::now();
        std::string cmd = "foremost -Q -t jpg,png,gif,bmp,pdf,zip,wav -i '" + image.string() + "' -o '" + out.string() + "' >/dev/null 2>&1";
        int rc = std::system(cmd.c_str());
        Row r{"foremost", seconds(t), 0};
        for (auto o : sectorsNamed(out, std::regex(R"((\d+)\..*)"))) r.found += offsets.count(o);
        if (rc == 0) rows.push_back(r);
    } else {
        std::printf("foremost: not installed\n");
    }

    if (have("photorec")) {
        fs::path out = work / "photorec";
        fs::create_directories(out);
        auto t = Clock::now();
        // Run inside the work folder: photorec leaves its log and session there.
        std::string cmd = "cd '" + out.string() + "' && photorec /log /d '" + (out / "recup").string() + "' /cmd '" + image.string() +
                          "' partition_none,options,paranoid_no,fileopt,everything,disable,jpg,enable,png,enable,"
                          "gif,enable,bmp,enable,pdf,enable,zip,enable,riff,enable,search >/dev/null 2>&1";
        int rc = std::system(cmd.c_str());
        Row r{"photorec", seconds(t), 0};
        for (auto o : sectorsNamed(out, std::regex(R"(f(\d+)[._].*)"))) r.found += offsets.count(o);
        if (rc == 0) rows.push_back(r);
    } else {
        std::printf("photorec: not installed\n");
    }

    std::printf("image: %lld MiB, %zu planted files (JPEG, PNG, GIF, BMP, PDF, ZIP, WAV)\n", (long long)mib, offsets.size());
    std::printf("%-24s %10s %10s %12s %8s\n", "tool", "seconds", "MB/s", "vs read", "found");
    const double readSecs = rows.front().secs;
    for (const Row& r : rows)
        std::printf("%-24s %10.3f %10.1f %11.2fx %8zu\n", r.tool.c_str(), r.secs, megabytes / r.secs,
                    readSecs / r.secs, r.found);
    fs::remove_all(work);
    return 0;
}
