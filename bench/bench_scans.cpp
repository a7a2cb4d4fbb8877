// Every sector scan over a whole image, each in MB/s and as a ratio to the
// plain sequential read rate of the same image through the same sector
// source, measured in the same run from the page cache: the bare chunked
// scan, the NTFS Deep scan and MFT candidate search, the advanced volume
// search (without skipping), the carving engine, the FAT and heap start
// searches, and, when the image's first sector says so, the FAT, exFAT or
// HFS+ Advanced candidate search and Advanced/Deep parse. Each figure is the
// best of `RUNS` (default 3); each scan's runs take turns with plain reads,
// and the best of those gives its ratio.
//
// usage: bench_scans IMAGE [SETTINGS]
//   IMAGE     a raw image or first EWF segment, taken whole as one volume
//   SETTINGS  signature settings (default: the build's FileSetting.txt)
//   ONLY=TEXT runs only the scans whose name contains TEXT (for profiling)
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "browse/ParserFactory.h"
#include "carve/SignatureFile.h"
#include "carve/myJpg.h"
#include "fs/fat/FatScan.h"
#include "image/ChunkedScan.h"
#include "image/ImageOpen.h"
#include "volumes/AdvancedVolumeScan.h"
#include "volumes/BootSignature.h"

namespace fs = std::filesystem;
using namespace salvage;
using Clock = std::chrono::steady_clock;

namespace {
double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int runs() {
    const char* r = std::getenv("RUNS");
    return r && std::atoi(r) > 0 ? std::atoi(r) : 3;
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Best wall-clock and best processor time of the runs. On a machine shared
// with other jobs the processor time is the steadier figure (everything
// here is served from the page cache, so the job never waits for a disk).
struct Times {
    double wall = 1e300, cpu = 1e300;
};
// When the current run's timing started; a job restarts it after a setup
// step that is not part of what it measures.
Clock::time_point g_runWall;
double g_runCpu = 0;
void restartClock() {
    g_runWall = Clock::now();
    g_runCpu = cpuSeconds();
}
Times timeOnce(const std::function<void()>& job) {
    restartClock();
    job();
    return {seconds(g_runWall), cpuSeconds() - g_runCpu};
}
void keepBest(Times& b, const Times& t) {
    b.wall = std::min(b.wall, t.wall);
    b.cpu = std::min(b.cpu, t.cpu);
}
Times best(const std::function<void()>& job) {
    Times b;
    for (int i = 0; i < runs(); ++i) keepBest(b, timeOnce(job));
    return b;
}
// A job and the plain read timed in turn, so that both see the machine in
// the same state (its speed drifts by a tenth and more over a run): the
// job's best and the read's best of those turns.
std::pair<Times, Times> bestBeside(const std::function<void()>& job, const std::function<void()>& read) {
    Times j, r;
    for (int i = 0; i < runs(); ++i) {
        keepBest(r, timeOnce(read));
        keepBest(j, timeOnce(job));
    }
    return {j, r};
}

VolumeRecord wholeImage(const std::u16string& fileSystem, std::int64_t sectors) {
    VolumeRecord v{fileSystem, u"0", std::u16string(), 0};
    v.sectors = sectors;
    v.sizeText = u"1  MB";  // the exact sector count above is what counts
    return v;
}

// A parse of the whole image as one volume with this parser and mode. With
// candidates, the Advanced candidate search runs first (untimed) and the
// parse takes the first of each list, as the command line does without a
// choice.
void parseWith(std::unique_ptr<VolumeParser> parser, readWriteInterface& src, const std::u16string& fs,
               RecoveryMode mode, bool candidates) {
    BrowseTree tree;
    parser->attach(&src, &tree, nullptr, wholeImage(fs, src.totalSectors()));
    if (candidates) {
        parser->findAdvancedCandidates(0);
        const AdvancedLists lists = parser->advancedLists();
        parser->advancedChoice.candidate = lists.candidates.empty() ? -1 : 0;
        parser->advancedChoice.sectorsPerCluster = lists.sectorsPerCluster.empty() ? -1 : 0;
        restartClock();
    }
    parser->parse(mode);
}
// The Advanced candidate search alone, with its default count.
void searchCandidates(std::unique_ptr<VolumeParser> parser, readWriteInterface& src, const std::u16string& fs) {
    BrowseTree tree;
    parser->attach(&src, &tree, nullptr, wholeImage(fs, src.totalSectors()));
    parser->findAdvancedCandidates(0);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE [SETTINGS]\n", argv[0]);
        return 2;
    }
    const fs::path exeDir = fs::read_symlink("/proc/self/exe").parent_path();
    const fs::path settings = argc > 2 ? fs::path(argv[2]) : exeDir.parent_path() / "FileSetting.txt";
    OpenedImage opened = openImage(argv[1], nullReporter());
    if (!opened.source) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    readWriteInterface& src = *opened.source;
    const std::int64_t bytes = src.totalSectors() * kSectorBytes;
    const double mb = double(bytes) / 1e6;

    std::vector<std::uint8_t> buf(1 << 20);
    auto plainRead = [&] {
        for (std::int64_t at = 0; at < bytes; at += std::int64_t(buf.size()))
            readAt(src, at, buf.data(), std::uint32_t(std::min<std::int64_t>(std::int64_t(buf.size()), bytes - at)));
    };
    plainRead();  // into the page cache
    const Times read = best(plainRead);
    std::printf("%s: %.0f MB, %s; best of %d runs, wall clock and processor time\n", argv[1], mb,
                opened.kind == ImageKind::Ewf ? "EWF" : "raw", runs());
    std::printf("  %-34s %7.3f s %8.1f MB/s   cpu %7.3f s %8.1f MB/s\n", "plain 1 MiB reads", read.wall,
                mb / read.wall, read.cpu, mb / read.cpu);

    const char* only = std::getenv("ONLY");
    auto row = [&](const char* name, const std::function<void()>& job) {
        if (only && !std::strstr(name, only)) return;
        const auto [t, read] = bestBeside(job, plainRead);
        std::printf("  %-34s %7.3f s %8.1f MB/s   cpu %7.3f s %8.1f MB/s   ratio wall %.2f cpu %.2f\n", name,
                    t.wall, mb / t.wall, t.cpu, mb / t.cpu, read.wall / t.wall, read.cpu / t.cpu);
        std::fflush(stdout);
    };

    row("chunked scan, nothing looked at", [&] {
        ChunkedScanOptions o;
        o.end = bytes;
        chunkedScan(src, o, [](const ScanChunk& c) { return c.limit; });
    });
    row("NTFS Deep parse", [&] { parseWith(createNtfsParser(), src, u"NTFS", RecoveryMode::Deep, false); });
    row("NTFS MFT candidate search", [&] {
        auto p = createNtfsParser();
        BrowseTree tree;
        p->attach(&src, &tree, nullptr, wholeImage(u"NTFS", src.totalSectors()));
        p->findAdvancedCandidates(INT32_MAX);  // never enough: the whole image
    });
    row("advanced volume search, no skip", [&] {
        std::vector<VolumeRecord> found;
        AdvancedVolumeScan scan(found);
        scan.skipVolumeSize = false;
        scan.run(src);
    });
    {
        std::unique_ptr<myJpg> engine;
        loadDefaultSignatures(settings, engine, nullReporter());
        if (engine) {
            row("carving engine scan", [&] {
                std::unique_ptr<myJpg> e;
                loadDefaultSignatures(settings, e, nullReporter());
                e->source = &src;
                e->volumeBytes = bytes;
                e->scanVolume();
            });
        } else {
            std::printf("  (no carving: cannot load %s)\n", settings.c_str());
        }
    }
    row("FAT32 start search", [&] {
        Pollable poll;
        src.baseOffset = 0;
        fat::findFatStarts(src, bytes, fat::FatKind::Fat32, INT64_MAX, poll, nullReporter());
    });
    row("exFAT heap start search", [&] {
        Pollable poll;
        src.baseOffset = 0;
        fat::findHeapStarts(src, bytes, INT64_MAX - 1, poll, nullReporter());
    });

    src.baseOffset = 0;
    const std::u16string kind = fileSystemAt(src, 0);
    // The Advanced candidate search, then the parse after it.
    auto advanced = [&](const char* search, const char* parse, auto create, const std::u16string& fs) {
        row(search, [&] { searchCandidates(create(), src, fs); });
        row(parse, [&] { parseWith(create(), src, fs, RecoveryMode::Advanced, true); });
    };
    if (kind == u"FAT32")
        advanced("FAT32 Advanced candidate search", "FAT32 Advanced parse", createFat32Parser, u"FAT32");
    else if (kind == u"FAT16" || kind == u"FAT12")
        advanced("FAT16 Advanced candidate search", "FAT16 Advanced parse", createFat16Parser, kind);
    else if (kind == u"FAT64")
        advanced("exFAT Advanced candidate search", "exFAT Advanced parse", createFat64Parser, u"FAT64");
    else if (kind == u"HFS+")
        row("HFS+ Deep parse (leaf search)", [&] { parseWith(createHfspParser(), src, u"HFS+", RecoveryMode::Deep, false); });
    return 0;
}
