#pragma once
// A raw image cut into pieces (disk.001, disk.002, … or xaa, xab, …) read
// as one image. Any piece of the set may be named; the set runs from its
// first piece through every consecutive piece that exists.
#include <filesystem>
#include <vector>

#include "image/SectorSource.h"

namespace salvage {

// The pieces of the split set `path` belongs to, first to last; empty when
// the name does not look like a piece or fewer than two pieces exist.
std::vector<std::filesystem::path> splitRawPieces(const std::filesystem::path& path);

class FileReadSeekSplit : public readWriteInterface {
public:
    explicit FileReadSeekSplit(Reporter& reporter = nullReporter());
    ~FileReadSeekSplit() override;
    FileReadSeekSplit(const FileReadSeekSplit&) = delete;
    FileReadSeekSplit& operator=(const FileReadSeekSplit&) = delete;

    // Opens every piece of the set read-only; the image is their sum.
    bool open(const std::filesystem::path& path) override;
    // The raw reader's rules: the part beyond the image's end is zero-filled
    // and reported as a failure; nothing read leaves the buffer untouched.
    bool read(void* buffer, std::uint32_t byteCount) override;
    bool seek(std::int64_t offset, int origin = 0) override;

    std::size_t pieceCount() const { return pieces_.size(); }
    std::uint64_t length() const { return length_; }

private:
    struct Piece {
        int fd = -1;
        std::uint64_t start = 0;
        std::uint64_t length = 0;
    };
    void closeAll();
    std::vector<Piece> pieces_;
    std::uint64_t length_ = 0;
    std::int64_t position_ = 0;
    Reporter* reporter_;
};

}  // namespace salvage
