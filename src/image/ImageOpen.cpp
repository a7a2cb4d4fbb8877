#include "image/ImageOpen.h"

#include <cstring>
#include <fstream>

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

OpenedImage openImage(const std::filesystem::path& path, Reporter& reporter, std::string* error) {
    OpenedImage out;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        if (error) *error = "cannot open " + path.string() + ": no such file or device";
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
