#include "image/ImageOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "image/EwfInfo.h"
#include "image/EwfReader.h"
#include "image/SplitRawSource.h"

namespace salvage {

bool looksLikeEwf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    char sig[8] = {};
    if (!in.read(sig, 8)) return false;
    static const char kEvf[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, char(0xFF), 0x00};
    static const char kLvf[8] = {'L', 'V', 'F', 0x09, 0x0D, 0x0A, char(0xFF), 0x00};
    static const char kEvf2[8] = {'E', 'V', 'F', '2', 0x0D, 0x0A, char(0x81), 0x00};
    return std::memcmp(sig, kEvf, 8) == 0 || std::memcmp(sig, kLvf, 8) == 0 || std::memcmp(sig, kEvf2, 8) == 0;
}

std::string imageProblem(const std::filesystem::path& path) {
    const std::string name = path.string();
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        if (errno == ENOENT && name.find_first_of("*?[") != std::string::npos) return {};
        return "cannot open " + name + ": " + (errno == ENOENT ? "no such file or device" : std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) return name + " is a directory, not an image file or device";
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "cannot open " + name + ": " + std::strerror(errno);
    char first[512];
    ssize_t got;
    do {
        got = ::pread(fd, first, sizeof first, 0);
    } while (got < 0 && errno == EINTR);
    const int readError = errno;
    ::close(fd);
    if (got < 0) return "cannot read " + name + ": " + std::strerror(readError);
    if (got == 0) return name + " is empty: it holds no data to read";
    return {};
}

OpenedImage openImage(const std::filesystem::path& path, Reporter& reporter, std::string* error) {
    OpenedImage out;
    if (std::string problem = imageProblem(path); !problem.empty()) {
        if (error) *error = problem;
        return out;
    }
    if (looksLikeEwf(path)) {
        // The information first, as the wizard reads it: its media size
        // sets the image's sector count. A failure there was reported and
        // the reader is tried regardless.
        EwfInfoRecord info;
        readImageInformation(path, info, reporter);
        auto ewf = std::make_unique<FileReadSeekEWf>(reporter, &info);
        if (!ewf->open(path)) {
            if (error) *error = "cannot open " + path.string() + ": not a readable EWF segment set";
            return out;
        }
        out.source = std::move(ewf);
        out.kind = ImageKind::Ewf;
        return out;
    }
    if (!splitRawPieces(path).empty()) {
        // One piece of a split raw set: the whole set is the image.
        auto split = std::make_unique<FileReadSeekSplit>(reporter);
        if (!split->open(path)) {
            if (error) *error = "cannot open " + path.string() + ": a piece of the split set cannot be read";
            return out;
        }
        out.source = std::move(split);
        out.kind = ImageKind::Raw;
        return out;
    }
    auto raw = std::make_unique<FileReadSeek>(reporter);
    if (!raw->open(path)) {
        if (error) *error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return out;
    }
    out.source = std::move(raw);
    out.kind = ImageKind::Raw;
    return out;
}

}  // namespace salvage
