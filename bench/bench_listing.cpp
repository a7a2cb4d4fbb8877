// Full listing of an ext2/3/4 or HFS+ volume through the parser contract
// (names, sizes, the three times and the attribute texts of every entry,
// folders walked recursively) against The Sleuth Kit's `fls -r -p -l` on the
// same image in the same run.
// usage: bench_listing ext|hfs IMAGE   (bench/make_listing_images.sh makes both)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "browse/ParserFactory.h"
#include "image/SectorSource.h"

using namespace salvage;
using Clock = std::chrono::steady_clock;

namespace {
std::size_t listAll(const VolumeParser& parser, RecordId id, int depth) {
    std::size_t n = 0;
    if (depth > 256) return 0;
    parser.forEachChild(id, [&](RecordId c) {
        std::u16string row = parser.name(c) + parser.sizeText(c) + parser.creationTimeText(c) +
                             parser.modificationTimeText(c) + parser.accessTimeText(c) + parser.attributeText(c);
        n += row.empty() ? 0 : 1;
        if (parser.isDirectory(c) && parser.name(c) != u"." && parser.name(c) != u"..")
            n += listAll(parser, c, depth + 1);
        return true;
    });
    return n;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ext|hfs IMAGE\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1], image = argv[2];
    const bool hfs = kind == "hfs";
    std::system(("cat '" + image + "' > /dev/null").c_str());  // both tools read from the page cache

    const auto t0 = Clock::now();
    FileReadSeek source;
    if (!source.open(image)) {
        std::fprintf(stderr, "cannot open %s\n", image.c_str());
        return 1;
    }
    auto parser = hfs ? createHfspParser() : createExtParser();
    BrowseTree tree;
    parser->attach(&source, &tree, nullptr, VolumeRecord{hfs ? u"HFS+" : u"extX", u"0", u"", 0});
    if (parser->parse(RecoveryMode::Standard) != ParseResult::Done) {
        std::fprintf(stderr, "the volume did not parse\n");
        return 1;
    }
    std::size_t rows = 0;
    for (TreeItem top : tree.children(tree.root())) {
        auto id = tree.itemData(top);
        if (!id) continue;
        ++rows;
        if (parser->isDirectory(*id) && parser->name(*id) != u".") rows += listAll(*parser, *id, 1);
    }
    const double ours = std::chrono::duration<double>(Clock::now() - t0).count();

    const auto t1 = Clock::now();
    const std::string fls = std::string("fls ") + (hfs ? "-f hfs " : "") + "-r -p -l '" + image + "' > /dev/null";
    const int rc = std::system(fls.c_str());
    const double theirs = std::chrono::duration<double>(Clock::now() - t1).count();

    std::printf("salvage listing (%s): %zu rows in %.3f s\n", kind.c_str(), rows, ours);
    if (rc == 0) std::printf("fls -r -p -l:    %.3f s\nratio salvage/fls: %.3f (below 1 is faster)\n", theirs, ours / theirs);
    else std::printf("fls failed (exit %d); install sleuthkit for the comparison\n", rc);
    return 0;
}
