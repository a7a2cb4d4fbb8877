// FAT32 listing speed next to The Sleuth Kit's `fls -r -p -l` on the same
// image in the same run: a full parse, then every record's path, times and
// size as the file list shows them.
//
// Usage: bench_fat32_listing [IMAGE]
//   IMAGE  a FAT32 volume image; by default one is made in a temporary
//          folder with mkfs.fat and mtools: 52,000 files, 100 folders of 500
//          and one folder of 2,000 (mtools fills a folder in quadratic time,
//          so this takes a few minutes once).
// Results go to stdout; nothing here is a pass/fail test.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "browse/ParserFactory.h"
#include "image/SectorSource.h"
#include "platform/Text.h"

namespace fs = std::filesystem;
using namespace salvage;
using Clock = std::chrono::steady_clock;

namespace {
double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

bool makeImage(const fs::path& img) {
    const fs::path dir = img.parent_path() / "tree";
    const std::string script =
        "set -e; export MTOOLS_SKIP_CHECK=1; d='" + dir.string() + "'; rm -rf \"$d\"; mkdir -p \"$d\";"
        "python3 -c \"import os,sys\n"
        "d=sys.argv[1]\n"
        "for f in range(100):\n"
        "  p=os.path.join(d,'folder%03d'%f); os.makedirs(p)\n"
        "  for i in range(500): open(os.path.join(p,'file number %05d.txt'%i),'w').write('x'*(i%700))\n"
        "p=os.path.join(d,'big folder'); os.makedirs(p)\n"
        "for i in range(2000): open(os.path.join(p,'item %05d.dat'%i),'w').write('y'*(i%300))\n"
        "\" \"$d\";"
        "rm -f '" + img.string() + "'; truncate -s 256M '" + img.string() + "';"
        "mkfs.fat -F 32 -s 1 '" + img.string() + "' >/dev/null;"
        "mcopy -s -Q -i '" + img.string() + "' \"$d\"/* ::/";
    const fs::path file = img.parent_path() / "make.sh";
    std::FILE* f = std::fopen(file.c_str(), "w");
    if (!f) return false;
    std::fputs(script.c_str(), f);
    std::fclose(f);
    return std::system(("PATH=$PATH:/usr/sbin:/sbin bash '" + file.string() + "'").c_str()) == 0;
}

struct Listing {
    std::size_t rows = 0;
    std::size_t bytes = 0;
};

Listing listAll(VolumeParser& p) {
    Listing l;
    std::function<void(RecordId, const std::u16string&, int)> walk = [&](RecordId id, const std::u16string& path, int depth) {
        if (depth > 64) return;
        p.forEachChild(id, [&](RecordId c) {
            const std::u16string full = path + u"/" + p.name(c);
            const std::u16string row = full + p.creationTimeText(c) + p.modificationTimeText(c) +
                                       p.accessTimeText(c) + p.sizeText(c);
            l.bytes += row.size();
            ++l.rows;
            if (p.isDirectory(c)) walk(c, full, depth + 1);
            return true;
        });
    };
    walk(0, u"", 0);
    return l;
}
}  // namespace

int main(int argc, char** argv) {
    fs::path img;
    if (argc > 1) {
        img = argv[1];
    } else {
        const fs::path dir = fs::temp_directory_path() / "salvage_bench_fat32";
        fs::create_directories(dir);
        img = dir / "fat32_52k.img";
        if (!fs::exists(img)) {
            std::printf("making %s ...\n", img.c_str());
            std::fflush(stdout);
            if (!makeImage(img)) {
                std::fprintf(stderr, "could not make the image\n");
                return 1;
            }
        }
    }
    // Warm the page cache so both tools read from memory.
    std::system(("cat '" + img.string() + "' > /dev/null").c_str());

    auto t0 = Clock::now();
    FileReadSeek src;
    if (!src.open(img)) return 1;
    BrowseTree tree;
    auto parser = createFat32Parser();
    VolumeRecord rec;
    rec.sizeText = u16(std::to_string(src.totalSectors() / 2048) + "   MB");
    parser->attach(&src, &tree, nullptr, rec);
    if (parser->parse(RecoveryMode::Standard) != ParseResult::Done) {
        std::fprintf(stderr, "parse failed\n");
        return 1;
    }
    const double parseTime = seconds(t0);
    const Listing l = listAll(*parser);
    const double ours = seconds(t0);

    auto t1 = Clock::now();
    const int rc = std::system(("fls -r -p -l '" + img.string() + "' > /dev/null").c_str());
    const double fls = seconds(t1);

    std::printf("image: %s\n", img.c_str());
    std::printf("salvage: %zu rows in %.3f s (parse %.3f s)\n", l.rows, ours, parseTime);
    if (rc == 0) std::printf("fls -r -p -l: %.3f s\nratio salvage / fls: %.2f\n", fls, ours / fls);
    else std::printf("fls not available\n");
    return 0;
}
