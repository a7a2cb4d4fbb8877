// The NTFS Deep scan (every 512-byte position of the volume tested for a
// record header, each record found parsed) in MB/s, next to the plain
// sequential read rate of the same image measured in the same run: `cat` for
// a raw image, `ewfexport` to standard output for an E01.
// usage: bench_deep_scan IMAGE...   (raw images and first EWF segments)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "browse/ParserFactory.h"
#include "image/ImageOpen.h"

using namespace salvage;
using Clock = std::chrono::steady_clock;

namespace {
// A volume size text as the volume list writes it: whole MiB first.
std::u16string fmtMiB(std::int64_t sectors) {
    std::string s = std::to_string(sectors * 512 / 1048576) + "  MB";
    return std::u16string(s.begin(), s.end());
}

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int benchOne(const std::string& image) {
    std::system(("cat '" + image + "'* > /dev/null").c_str());  // page cache warm for both sides
    OpenedImage opened = openImage(image, nullReporter());
    if (!opened.source) {
        std::fprintf(stderr, "cannot open %s\n", image.c_str());
        return 1;
    }
    const double mb = double(opened.source->totalSectors()) * 512 / 1e6;
    VolumeRecord volume{u"NTFS", u"0", std::u16string(), 0};
    // The scan's extent comes from the size text, in whole MiB.
    volume.sizeText = fmtMiB(opened.source->totalSectors());

    const auto t0 = Clock::now();
    auto parser = createNtfsParser();
    BrowseTree tree;
    parser->attach(opened.source.get(), &tree, nullptr, volume);
    parser->parse(RecoveryMode::Deep);
    const double ours = seconds(t0);

    const bool ewf = opened.kind == ImageKind::Ewf;
    const std::string plain = ewf ? "ewfexport -q -u -f raw -t - '" + image + "' > /dev/null 2>&1"
                                  : "cat '" + image + "' > /dev/null";
    const auto t1 = Clock::now();
    const int rc = std::system(plain.c_str());
    const double read = seconds(t1);

    std::printf("%s (%s, %.0f MB)\n  deep scan: %.3f s, %.1f MB/s\n", image.c_str(), ewf ? "EWF" : "raw", mb, ours,
                mb / ours);
    if (rc == 0)
        std::printf("  %s: %.3f s, %.1f MB/s\n  ratio scan/read rate: %.2f\n", ewf ? "ewfexport" : "cat", read,
                    mb / read, (mb / ours) / (mb / read));
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE...\n", argv[0]);
        return 2;
    }
    int rc = 0;
    for (int i = 1; i < argc; ++i) rc |= benchOne(argv[i]);
    return rc;
}
