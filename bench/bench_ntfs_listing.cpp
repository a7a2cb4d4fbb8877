// Full listing of an NTFS volume (names, sizes, the three times and the
// attribute letters of every entry, folders opened recursively) against
// The Sleuth Kit's `fls -r -p -l` on the same image in the same run.
// usage: bench_ntfs_listing IMAGE   (bench/make_ntfs_listing_image.sh makes one)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fs/ntfs/ntfs.h"
#include "image/SectorSource.h"

using namespace salvage;
using Clock = std::chrono::steady_clock;

namespace {
std::size_t listAll(const ntfs& parser, RecordId id, int depth) {
    std::size_t n = 0;
    if (depth > 256) return 0;
    parser.forEachChild(id, [&](RecordId c) {
        std::u16string row = parser.name(c) + parser.sizeText(c) + parser.creationTimeText(c) +
                             parser.modificationTimeText(c) + parser.accessTimeText(c) + parser.attributeText(c);
        n += row.empty() ? 0 : 1;
        if (parser.isDirectory(c)) n += listAll(parser, c, depth + 1);
        return true;
    });
    return n;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE (make one with bench/make_ntfs_listing_image.sh)\n", argv[0]);
        return 2;
    }
    const std::string image = argv[1];
    // Warm the page cache so both tools read from memory.
    std::system(("cat '" + image + "' > /dev/null").c_str());

    const auto t0 = Clock::now();
    FileReadSeek source;
    if (!source.open(image)) {
        std::fprintf(stderr, "cannot open %s\n", image.c_str());
        return 1;
    }
    ntfs parser;
    parser.attach(&source, nullptr, nullptr, VolumeRecord{u"NTFS", u"1", u"", 0});
    parser.parse(RecoveryMode::Standard);
    const std::size_t rows = listAll(parser, parser.rootIndex(), 0);
    const double ours = std::chrono::duration<double>(Clock::now() - t0).count();

    const auto t1 = Clock::now();
    const int rc = std::system(("fls -r -p -l '" + image + "' > /dev/null").c_str());
    const double fls = std::chrono::duration<double>(Clock::now() - t1).count();

    std::printf("salvage listing: %zu rows in %.3f s\n", rows, ours);
    if (rc == 0) std::printf("fls -r -p -l:    %.3f s\nratio salvage/fls: %.3f (below 1 is faster)\n", fls, ours / fls);
    else std::printf("fls failed (exit %d); install sleuthkit for the comparison\n", rc);
    return 0;
}
