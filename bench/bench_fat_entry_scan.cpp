// Advanced-mode scan speed next to a plain sequential read of the same image
// in the same run: the FAT candidate search (10 MiB blocks, 512-byte
// boundaries) and the Advanced parse (the cluster-by-cluster entry scan, the
// rebuild and the linking), each as MB/s of volume covered, against 1 MiB
// reads of the whole image through the same sector source.
//
// Usage: bench_fat_entry_scan [IMAGE [fat16|fat32|exfat]]
//   IMAGE  a volume image whose boot sector is sound (its own cluster size
//          and heap are chosen); by default a 512 MiB FAT32 volume is made
//          once in a temporary folder with mkfs.fat and mtools: 2,000 small
//          files in folders and 400 MB of random data, the worst case for
//          the entry tests.
// Results go to stdout; nothing here is a pass/fail test.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "browse/ParserFactory.h"
#include "image/SectorSource.h"
#include "platform/Text.h"

namespace fs = std::filesystem;
using namespace salvage;
using Clock = std::chrono::steady_clock;

namespace {
double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Gives every short entry of the volume's folders a non-zero creation-tenths
// byte, as the desktop system writes it (mtools writes 0, and the FAT32
// entry scan passes over such entries).
const char* kTenths = R"(import sys, struct
f = open(sys.argv[1], 'r+b'); b = f.read(512)
bps = struct.unpack_from('<H', b, 11)[0]; spc = b[13]; res = struct.unpack_from('<H', b, 14)[0]
spf = struct.unpack_from('<I', b, 36)[0]; root = struct.unpack_from('<I', b, 44)[0]
cb = bps * spc; data = (res + b[16] * spf) * bps
f.seek(res * bps); fat = f.read(spf * bps)
def chain(c):
    out = []
    while 2 <= c < 0x0FFFFFF7 and c not in out:
        out.append(c); c = struct.unpack_from('<I', fat, 4 * c)[0] & 0x0FFFFFFF
    return out
def walk(c0):
    for c in chain(c0):
        f.seek(data + (c - 2) * cb); d = bytearray(f.read(cb))
        for p in range(0, cb, 32):
            if d[p] in (0, 0x2E) or d[p + 11] == 0x0F: continue
            d[p + 13] = d[p + 13] or 1 + p % 199
            if d[p + 11] & 0x10: walk(struct.unpack_from('<H', d, p + 20)[0] << 16 | struct.unpack_from('<H', d, p + 26)[0])
        f.seek(data + (c - 2) * cb); f.write(d)
walk(root)
)";

bool makeImage(const fs::path& img) {
    const fs::path tenths = img.parent_path() / "tenths.py";
    if (std::FILE* t = std::fopen(tenths.c_str(), "w")) {
        std::fputs(kTenths, t);
        std::fclose(t);
    }
    const fs::path dir = img.parent_path() / "tree";
    const std::string script =
        "set -e; export MTOOLS_SKIP_CHECK=1; d='" + dir.string() + "'; rm -rf \"$d\"; mkdir -p \"$d\";"
        "python3 -c \"import os,sys\n"
        "d=sys.argv[1]\n"
        "for f in range(20):\n"
        "  p=os.path.join(d,'folder %02d'%f); os.makedirs(p)\n"
        "  for i in range(100): open(os.path.join(p,'small file %04d.txt'%i),'w').write('z'*(100+i*37))\n"
        "p=os.path.join(d,'DATA'); os.makedirs(p)\n"
        "for i in range(8): open(os.path.join(p,'random%d.bin'%i),'wb').write(os.urandom(50*1024*1024))\n"
        "\" \"$d\";"
        "rm -f '" + img.string() + "'; truncate -s 512M '" + img.string() + "';"
        "mkfs.fat -F 32 -s 8 '" + img.string() + "' >/dev/null;"
        "mcopy -s -Q -i '" + img.string() + "' \"$d\"/* ::/; rm -rf \"$d\";"
        "python3 '" + tenths.string() + "' '" + img.string() + "'";
    const fs::path file = img.parent_path() / "make.sh";
    std::FILE* f = std::fopen(file.c_str(), "w");
    if (!f) return false;
    std::fputs(script.c_str(), f);
    std::fclose(f);
    return std::system(("PATH=$PATH:/usr/sbin:/sbin bash '" + file.string() + "'").c_str()) == 0;
}

std::unique_ptr<VolumeParser> parserFor(const std::string& kind) {
    return kind == "exfat" ? createFat64Parser() : kind == "fat16" ? createFat16Parser() : createFat32Parser();
}
}  // namespace

int main(int argc, char** argv) {
    fs::path img;
    const std::string kind = argc > 2 ? argv[2] : "fat32";
    if (argc > 1) {
        img = argv[1];
    } else {
        const fs::path dir = fs::temp_directory_path() / "salvage_bench_entry_scan";
        fs::create_directories(dir);
        img = dir / "fat32_512m.img";
        if (!fs::exists(img)) {
            std::printf("making %s ...\n", img.c_str());
            std::fflush(stdout);
            if (!makeImage(img)) {
                std::fprintf(stderr, "could not make the image\n");
                return 1;
            }
        }
    }
    FileReadSeek src;
    if (!src.open(img)) return 1;
    const std::int64_t total = src.totalSectors() * 512;
    const double mb = double(total) / 1e6;

    // Each pass runs three times and the best time counts; a first plain
    // read warms the page cache, so every pass reads from memory.
    constexpr int kRuns = 3;
    std::vector<std::uint8_t> buf(1 << 20);
    double plain = 1e9;
    for (int pass = 0; pass <= kRuns; ++pass) {
        auto t = Clock::now();
        for (std::int64_t at = 0; at < total; at += std::int64_t(buf.size()))
            readAt(src, at, buf.data(), std::uint32_t(std::min<std::int64_t>(std::int64_t(buf.size()), total - at)));
        if (pass > 0) plain = std::min(plain, seconds(t));
    }

    double search = 1e9, scan = 1e9;
    std::int64_t candidates = 0;
    std::size_t records = 0;
    for (int run = 0; run < kRuns; ++run) {
        BrowseTree tree;
        auto parser = parserFor(kind);
        VolumeRecord rec;
        rec.sizeText = u16(std::to_string(total / 1048576) + "   MB");
        parser->attach(&src, &tree, nullptr, rec);
        auto t0 = Clock::now();
        candidates = parser->findAdvancedCandidates(1000000);
        search = std::min(search, seconds(t0));
        if (candidates == 0) {
            std::fprintf(stderr, "no FAT candidate\n");
            return 1;
        }
        parser->advancedChoice = {0, 0, 0};  // the first copy, the boot sector's cluster size and heap
        auto t1 = Clock::now();
        if (parser->parse(RecoveryMode::Advanced) != ParseResult::Done) {
            std::fprintf(stderr, "advanced parse failed\n");
            return 1;
        }
        scan = std::min(scan, seconds(t1));
        records = 0;
        while (parser->isValidRecord(RecordId(records))) ++records;
    }

    std::printf("image: %s (%s, %.0f MB)\n", img.c_str(), kind.c_str(), mb);
    std::printf("plain sequential read: %.3f s, %.0f MB/s\n", plain, mb / plain);
    std::printf("FAT candidate search%s: %.3f s, %.0f MB/s (%lld candidates), ratio to the read %.2f\n",
                kind == "exfat" ? " (FAT and heap)" : "", search, mb / search, (long long)candidates, plain / search);
    std::printf("entry scan and rebuild: %.3f s, %.0f MB/s (%zu records), ratio to the read %.2f\n", scan, mb / scan,
                records, plain / scan);
    return 0;
}
