// Export and advanced-scan throughput, each next to a reference measured in
// the same run:
//   - ExportJob to raw and to EWF against `ewfexport` doing the same;
//   - the advanced volume scan against a plain sequential 1 MiB read of the
//     same image through the same reader.
//   bench_export IMAGE.E01 [WORKDIR]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/ExportJob.h"
#include "image/ImageOpen.h"
#include "volumes/AdvancedVolumeScan.h"

using namespace salvage;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

static double timeCommand(const std::string& cmd) {
    auto start = Clock::now();
    int rc = std::system(cmd.c_str());
    return rc == 0 ? seconds(start) : -1;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE.E01 [WORKDIR]\n", argv[0]);
        return 2;
    }
    const std::string image = argv[1];
    const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "salvage_bench_export";
    fs::remove_all(work);
    fs::create_directories(work);

    ExportSettings s;
    s.imagePath = image;
    readImageInformation(image, s.info, nullReporter());
    const double mb = double(s.info.mediaSize) / 1e6;

    for (ExportFormat format : {ExportFormat::Raw, ExportFormat::Ewf}) {
        const bool ewf = format == ExportFormat::Ewf;
        s.outputFormat = format;
        s.targetPath = (work / (ewf ? "ours" : "ours_raw")).string();
        auto start = Clock::now();
        ExportResult r = ExportJob(s, nullReporter()).run();
        const double ours = seconds(start);
        const std::string peerTarget = (work / (ewf ? "peer" : "peer_raw")).string();
        const double peer = timeCommand("ewfexport -q -u -f " + std::string(ewf ? "encase6 -c none" : "raw") + " -t '" +
                                        peerTarget + "' '" + image + "' > /dev/null 2>&1");
        std::printf("export %-3s: %8.1f MB/s (%llu bytes)", ewf ? "ewf" : "raw", mb / ours,
                    (unsigned long long)r.bytesCopied);
        if (peer > 0) std::printf("  ewfexport %8.1f MB/s  ratio %.2f\n", mb / peer, peer / ours);
        else std::printf("  ewfexport failed\n");
    }

    OpenedImage img = openImage(image, nullReporter());
    if (!img.source) return 1;
    std::vector<std::uint8_t> buffer(kAdvancedScanWindowBytes);
    const std::int64_t total = img.source->totalSectors();
    auto start = Clock::now();
    for (std::int64_t at = 0; at < total * 512; at += std::int64_t(buffer.size()))
        readAt(*img.source, at, buffer.data(), std::uint32_t(buffer.size()));
    const double plain = seconds(start);
    std::vector<VolumeRecord> found;
    AdvancedVolumeScan scan(found);
    scan.skipVolumeSize = false;  // every sector examined
    start = Clock::now();
    scan.run(*img.source);
    const double scanned = seconds(start);
    std::printf("advanced scan: %8.1f MB/s  sequential read %8.1f MB/s  ratio %.2f (%zu volumes)\n", mb / scanned,
                mb / plain, plain / scanned, found.size());
    fs::remove_all(work);
    return 0;
}
