#include "image/SplitRawSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/Globals.h"
#include "platform/AppTitle.h"

namespace salvage {

namespace fs = std::filesystem;

namespace {

bool allOf(const std::string& s, int (*pred)(int)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [pred](char c) { return pred((unsigned char)c) != 0; });
}

// Numbered pieces: "NAME.001" … with a fixed-width number, starting at 0 or 1.
std::vector<fs::path> numberedPieces(const fs::path& path) {
    std::string ext = path.extension().string();
    if (ext.size() < 3 || !allOf(ext.substr(1), [](int c) { return std::isdigit(c); })) return {};
    std::size_t width = ext.size() - 1;
    fs::path stem = path.parent_path() / path.stem();
    auto piece = [&](unsigned long n) {
        std::string num = std::to_string(n);
        if (num.size() > width) return fs::path();
        return fs::path(stem.string() + "." + std::string(width - num.size(), '0') + num);
    };
    std::error_code ec;
    unsigned long first = fs::is_regular_file(piece(0), ec) ? 0 : 1;
    std::vector<fs::path> out;
    for (unsigned long n = first;; ++n) {
        fs::path p = piece(n);
        if (p.empty() || !fs::is_regular_file(p, ec)) break;
        out.push_back(p);
    }
    if (std::find(out.begin(), out.end(), path) == out.end()) return {};
    return out;
}

// Lettered pieces: "PREFIXaa", "PREFIXab", … as the split tool names them.
std::vector<fs::path> letteredPieces(const fs::path& path) {
    std::string name = path.filename().string();
    if (name.size() < 3) return {};
    std::string suffix = name.substr(name.size() - 2);
    if (!allOf(suffix, [](int c) { return c >= 'a' && c <= 'z' ? 1 : 0; })) return {};
    std::string prefix = (path.parent_path() / name.substr(0, name.size() - 2)).string();
    std::vector<fs::path> out;
    std::error_code ec;
    for (int i = 0; i < 26 * 26; ++i) {
        fs::path p = prefix + char('a' + i / 26) + char('a' + i % 26);
        if (!fs::is_regular_file(p, ec)) break;
        out.push_back(p);
    }
    // The named file must belong to the run found from "aa".
    if (std::find(out.begin(), out.end(), path) == out.end()) return {};
    return out;
}

}  // namespace

std::vector<fs::path> splitRawPieces(const fs::path& path) {
    std::vector<fs::path> pieces = numberedPieces(path);
    if (pieces.size() < 2) pieces = letteredPieces(path);
    if (pieces.size() < 2) return {};
    return pieces;
}

FileReadSeekSplit::FileReadSeekSplit(Reporter& reporter) : reporter_(&reporter) {}

FileReadSeekSplit::~FileReadSeekSplit() { closeAll(); }

void FileReadSeekSplit::closeAll() {
    for (auto& p : pieces_)
        if (p.fd >= 0) ::close(p.fd);
    pieces_.clear();
    length_ = 0;
}

bool FileReadSeekSplit::open(const fs::path& path) {
    std::vector<fs::path> names = splitRawPieces(path);
    if (names.empty()) names.push_back(path);
    std::vector<Piece> opened;
    std::uint64_t total = 0;
    for (const auto& name : names) {
        int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st{};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0) ::close(fd);
            for (auto& p : opened) ::close(p.fd);
            reporter_->message(u"invalid handle ...", kAppTitle, MessageIcon::Information);
            return false;
        }
        opened.push_back({fd, total, std::uint64_t(st.st_size)});
        total += std::uint64_t(st.st_size);
    }
    closeAll();
    pieces_ = std::move(opened);
    length_ = total;
    position_ = 0;
    damage_.clear();
    totalSectors_ = std::int64_t(total / 512);
    g_totalSectors = totalSectors_;
    return true;
}

bool FileReadSeekSplit::seek(std::int64_t offset, int) {
    if (pieces_.empty()) return false;
    std::int64_t target;
    if (__builtin_add_overflow(baseOffset, offset, &target) || target < 0) return false;
    position_ = target;
    return true;
}

bool FileReadSeekSplit::read(void* buffer, std::uint32_t byteCount) {
    if (pieces_.empty()) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t got = 0;
    // The piece holding the position: the last one starting at or before it.
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), std::uint64_t(position_),
                               [](std::uint64_t pos, const Piece& p) { return pos < p.start; });
    if (it != pieces_.begin()) --it;
    while (got < byteCount && it != pieces_.end()) {
        std::uint64_t at = std::uint64_t(position_) + got;
        if (at >= it->start + it->length) {
            ++it;
            continue;
        }
        std::uint64_t within = at - it->start;
        std::uint32_t want = std::uint32_t(std::min<std::uint64_t>(byteCount - got, it->length - within));
        ssize_t n = ::pread(it->fd, out + got, want, off_t(within));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += std::uint32_t(n);
    }
    if (got > 0 && got < byteCount) std::memset(out + got, 0, byteCount - got);
    noteRead(position_, byteCount, got >= byteCount, got);
    position_ += got;
    return got >= byteCount;
}

}  // namespace salvage
