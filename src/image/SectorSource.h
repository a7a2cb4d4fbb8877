#pragma once
// The sector source every subsystem reads through. Byte-addressed (64-bit
// offsets, any count), but the system reasons in 512-byte sectors; every
// seek adds the public `baseOffset`, so a parser works in offsets relative
// to its volume's first byte.
#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/KnownDamage.h"
#include "platform/Reporter.h"

namespace salvage {

inline constexpr std::int64_t kSectorBytes = 512;

class readWriteInterface {
public:
    virtual ~readWriteInterface() = default;
    // Opens (or reopens) the image; sets g_totalSectors on success. Never
    // changes baseOffset.
    virtual bool open(const std::filesystem::path& path) = 0;
    // Reads byteCount bytes at the current position into buffer.
    virtual bool read(void* buffer, std::uint32_t byteCount);
    // Positions at baseOffset + offset; every caller passes origin 0.
    virtual bool seek(std::int64_t offset, int origin = 0);

    // Image size in 512-byte sectors as the last successful open found it
    // (the same value open writes to g_totalSectors).
    std::int64_t totalSectors() const { return totalSectors_; }

    // The parts of image bytes [offset, offset + length) (from the image's
    // first byte, baseOffset not applied) known to be damaged, appended in
    // order: what this reader's reads so far could not deliver, and whatever
    // lies past the image's end. Nothing is read to answer.
    void knownDamage(std::uint64_t offset, std::uint64_t length, std::vector<ImageRange>& out) const;
    // Every range the reads so far could not deliver.
    std::vector<ImageRange> unreadableRanges() const { return damage_.all(); }

    std::int64_t baseOffset = 0;

protected:
    // For readers, after a read of `count` bytes at image byte `at`: a read
    // that delivered everything takes its range out of the known damage;
    // one that failed marks what followed its first `good` bytes, up to the
    // image's end (bytes past it are not damage of the image).
    void noteRead(std::int64_t at, std::uint64_t count, bool ok, std::uint64_t good = 0);
    std::uint64_t imageEndBytes() const;

    std::int64_t totalSectors_ = 0;
    KnownDamage damage_;
};

// A seek followed by a read, the way every caller reads.
inline bool readAt(readWriteInterface& source, std::int64_t offset, void* buffer, std::uint32_t byteCount) {
    return source.seek(offset, 0) && source.read(buffer, byteCount);
}

// Reader over a plain raw image file or a block device, opened read-only.
class FileReadSeek : public readWriteInterface {
public:
    explicit FileReadSeek(Reporter& reporter = nullReporter());
    ~FileReadSeek() override;
    FileReadSeek(const FileReadSeek&) = delete;
    FileReadSeek& operator=(const FileReadSeek&) = delete;

    bool open(const std::filesystem::path& path) override;
    // Zero-fills the part of buffer beyond the bytes read; reports failure
    // on a short read, and leaves buffer untouched when nothing was read.
    bool read(void* buffer, std::uint32_t byteCount) override;
    bool seek(std::int64_t offset, int origin = 0) override;

    int handle = -1;
    std::uint64_t fileLength = 0;

private:
    Reporter* reporter_;
    std::int64_t position_ = -1;  // the file position, -1 when unknown
};

// An image held in memory, with the raw reader's read rules. For tests and
// fuzz harnesses.
class MemorySource : public readWriteInterface {
public:
    MemorySource() = default;
    explicit MemorySource(std::vector<std::uint8_t> bytes);
    MemorySource(const std::uint8_t* data, std::size_t size);

    // Loads the file into memory.
    bool open(const std::filesystem::path& path) override;
    bool read(void* buffer, std::uint32_t byteCount) override;
    bool seek(std::int64_t offset, int origin = 0) override;

    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::uint64_t readCalls() const { return readCalls_; }

private:
    void updateTotal();
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
    std::uint64_t readCalls_ = 0;
};

}  // namespace salvage
