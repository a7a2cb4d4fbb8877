// Saving many entries of one name into one folder: each takes the next
// numbered name ("same (2).txt", ...). Timed through the host writer
// against plain open/write/close of as many distinct names in the same run,
// the cost any writer pays.
//   bench_save_names [COUNT] [WORKDIR]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "browse/OutputFolder.h"

using namespace salvage;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 30000;
    const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "salvage_bench_save_names";
    fs::remove_all(work);
    const std::string body = "sixteen bytes..\n";

    fs::create_directories(work / "plain");
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string p = (work / "plain" / ("f" + std::to_string(i) + ".txt")).string();
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0 || ::write(fd, body.data(), body.size()) != ssize_t(body.size()) || ::close(fd) != 0) return 1;
    }
    const double plain = seconds(start);

    OutputFolder out;
    if (!out.open(work / "writer")) return 1;
    start = Clock::now();
    for (int i = 0; i < count; ++i) {
        auto f = out.create(out.root(), "same.txt");
        if (!f || !f->write(body) || !f->finish()) return 1;
    }
    const double writer = seconds(start);
    std::printf("%d files of one name: writer %.2f s, plain distinct files %.2f s, ratio %.2f\n", count, writer,
                plain, plain > 0 ? writer / plain : 0.0);
    fs::remove_all(work);
    return 0;
}
