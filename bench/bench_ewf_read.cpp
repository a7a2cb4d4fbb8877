// Reads a whole EWF image sequentially through the EWF reader in 1 MiB reads
// and reports MB/s next to `ewfexport` writing the same image to /dev/null,
// libewf's own limit, measured in the same run.
//   bench_ewf_read IMAGE.E01
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/EwfReader.h"

using namespace salvage;
using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE.E01\n", argv[0]);
        return 2;
    }
    FileReadSeekEWf reader;
    if (!reader.open(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    const std::uint64_t media = reader.mediaSize();
    std::vector<std::uint8_t> buffer(1 << 20);
    auto start = Clock::now();
    std::uint64_t sum = 0;
    for (std::uint64_t at = 0; at < media; at += buffer.size()) {
        readAt(reader, std::int64_t(at), buffer.data(), std::uint32_t(buffer.size()));
        sum += buffer[0];
    }
    const double ours = seconds(start);

    std::string cmd = "ewfexport -q -u -f raw -t - '" + std::string(argv[1]) + "' > /dev/null 2>&1";
    start = Clock::now();
    const int rc = std::system(cmd.c_str());
    const double peer = seconds(start);

    const double mb = double(media) / 1e6;
    std::printf("media %.1f MB (checksum byte %llu)\n", mb, (unsigned long long)(sum & 0xFF));
    std::printf("reader, 1 MiB reads : %8.1f MB/s\n", mb / ours);
    if (rc == 0) {
        std::printf("ewfexport to null   : %8.1f MB/s\n", mb / peer);
        std::printf("ratio reader/ewfexport: %.2f\n", peer / ours);
    } else {
        std::printf("ewfexport failed (exit %d)\n", rc);
    }
    return 0;
}
