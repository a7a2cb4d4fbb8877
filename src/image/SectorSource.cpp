#include "image/SectorSource.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "image/Globals.h"
#include "platform/AppTitle.h"

namespace salvage {

bool readWriteInterface::read(void*, std::uint32_t) { return true; }
bool readWriteInterface::seek(std::int64_t, int) { return true; }

std::uint64_t readWriteInterface::imageEndBytes() const {
    if (totalSectors_ <= 0 || std::uint64_t(totalSectors_) > UINT64_MAX / std::uint64_t(kSectorBytes)) return UINT64_MAX;
    return std::uint64_t(totalSectors_) * std::uint64_t(kSectorBytes);
}

void readWriteInterface::knownDamage(std::uint64_t offset, std::uint64_t length, std::vector<ImageRange>& out) const {
    if (length == 0) return;
    const std::uint64_t imageEnd = imageEndBytes();
    const std::uint64_t end = length > UINT64_MAX - offset ? UINT64_MAX : offset + length;
    if (offset < imageEnd) damage_.overlapping(offset, std::min(end, imageEnd) - offset, out);
    if (end > imageEnd) {
        const std::uint64_t from = std::max(offset, imageEnd);
        out.push_back({from, end - from, ImageRange::Kind::PastEnd});
    }
}

void readWriteInterface::noteRead(std::int64_t at, std::uint64_t count, bool ok, std::uint64_t good) {
    if (at < 0 || count == 0) return;
    const std::uint64_t from = std::uint64_t(at);
    if (ok) {
        damage_.remove(from, count);
        return;
    }
    good = std::min(good, count);
    if (good > 0) damage_.remove(from, good);
    const std::uint64_t imageEnd = imageEndBytes();
    const std::uint64_t badFrom = from + good;
    if (badFrom >= imageEnd) return;
    damage_.add(badFrom, std::min(count - good, imageEnd - badFrom));
}

FileReadSeek::FileReadSeek(Reporter& reporter) : reporter_(&reporter) {}

FileReadSeek::~FileReadSeek() {
    if (handle >= 0) ::close(handle);
}

bool FileReadSeek::open(const std::filesystem::path& path) {
    // Length of an ordinary file, when it opens as one (informational only).
    {
        struct stat st{};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) fileLength = std::uint64_t(st.st_size);
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reporter_->message(u"invalid handle ...", kAppTitle, MessageIcon::Information);
        return false;
    }
    if (handle >= 0) ::close(handle);
    handle = fd;
    position_ = 0;
    damage_.clear();

    std::int64_t sectors = 0;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
        // A block device: its size from the kernel, counted in 512-byte
        // sectors whatever the device's own sector size.
        std::uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) sectors = std::int64_t(bytes / 512);
    } else {
        off_t end = ::lseek(fd, 0, SEEK_END);
        if (end > 0) {
            fileLength = std::uint64_t(end);
            sectors = std::int64_t(end / 512);
        }
        ::lseek(fd, 0, SEEK_SET);
    }
    totalSectors_ = sectors;
    g_totalSectors = sectors;
    return true;
}

bool FileReadSeek::seek(std::int64_t offset, int origin) {
    if (handle < 0) return false;
    std::int64_t target;
    if (__builtin_add_overflow(baseOffset, offset, &target)) return false;
    int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    const off_t now = ::lseek(handle, off_t(target), whence);
    position_ = now == off_t(-1) ? -1 : std::int64_t(now);
    return now != off_t(-1);
}

bool FileReadSeek::read(void* buffer, std::uint32_t byteCount) {
    if (handle < 0) return false;
    // Straight into the caller's buffer: this is the hottest path of every
    // scan. A short read zero-fills the rest; nothing read leaves the buffer
    // as it was.
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t got = 0;
    while (got < byteCount) {
        ssize_t n = ::read(handle, out + got, byteCount - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += std::uint32_t(n);
    }
    if (got > 0 && got < byteCount) std::memset(out + got, 0, byteCount - got);
    // A read past the file's end is no damage: noteRead clips at the end.
    noteRead(position_, byteCount, got >= byteCount, got);
    if (position_ >= 0) position_ += got;
    return got >= byteCount;
}

MemorySource::MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { updateTotal(); }

MemorySource::MemorySource(const std::uint8_t* data, std::size_t size) : bytes_(data, data + size) { updateTotal(); }

void MemorySource::updateTotal() { totalSectors_ = std::int64_t(bytes_.size() / 512); }

bool MemorySource::open(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
    updateTotal();
    g_totalSectors = totalSectors_;
    return true;
}

bool MemorySource::seek(std::int64_t offset, int) {
    std::int64_t target;
    if (__builtin_add_overflow(baseOffset, offset, &target) || target < 0) return false;
    position_ = target;
    return true;
}

bool MemorySource::read(void* buffer, std::uint32_t byteCount) {
    ++readCalls_;
    std::int64_t size = std::int64_t(bytes_.size());
    if (position_ >= size) return byteCount == 0;
    std::int64_t available = std::min<std::int64_t>(byteCount, size - position_);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memcpy(out, bytes_.data() + position_, std::size_t(available));
    std::memset(out + available, 0, std::size_t(byteCount - available));
    position_ += available;
    return available >= std::int64_t(byteCount);
}

}  // namespace salvage
