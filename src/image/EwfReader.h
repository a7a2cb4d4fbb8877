#pragma once
// The sector source over an EWF segment set (.E01, .E02, ...), read through
// libewf: random-access reads of the image's media data.
#include <memory>
#include <optional>

#include "image/EwfInfo.h"
#include "image/SectorSource.h"

namespace salvage {

class EwfHandle;
class EwfError;

class FileReadSeekEWf : public readWriteInterface {
public:
    // `info` is the image information read before (its media size becomes
    // the total sector count and its sectors per chunk is checked); without
    // it the reader takes the media size the segment set reports.
    explicit FileReadSeekEWf(Reporter& reporter = nullReporter(), const EwfInfoRecord* info = nullptr);
    ~FileReadSeekEWf() override;
    FileReadSeekEWf(const FileReadSeekEWf&) = delete;
    FileReadSeekEWf& operator=(const FileReadSeekEWf&) = delete;

    // `path` is the first segment file, or a wildcard pattern naming the
    // segment files. Reopens afresh when called again; position and
    // baseOffset stay.
    bool open(const std::filesystem::path& path) override;
    // position = baseOffset + offset; a position past the media end only
    // shows in later reads. False only when the sum overflows.
    bool seek(std::int64_t offset, int origin = 0) override;
    // Reads at position without moving it. True when libewf delivered 0 or
    // more bytes; the part of buffer beyond the media end is zero-filled. A
    // chunk that fails its checksum is delivered as zeros and the read
    // returns false. Every chunk libewf has found corrupt, and a read that
    // fails as a whole, become known damage (knownDamage()).
    bool read(void* buffer, std::uint32_t byteCount) override;

    std::int64_t position = 0;
    // Media size as the open segment set reports it, in bytes.
    std::uint64_t mediaSize() const { return mediaSize_; }
    // Chunks found corrupt so far.
    std::uint32_t checksumErrors() const { return checksumErrors_; }

    static constexpr int headerCodepage = 20127;  // US-ASCII

private:
    // True when a chunk libewf found corrupt lies in the byte range.
    bool overlapsChecksumError(std::int64_t offset, std::uint64_t bytes);

    Reporter* reporter_;
    std::optional<EwfInfoRecord> info_;
    std::unique_ptr<EwfHandle> ewfHandle_;
    std::unique_ptr<EwfError> ewfError_;
    std::uint64_t mediaSize_ = 0;
    std::uint32_t checksumErrors_ = 0;
};

}  // namespace salvage
