#pragma once
// MD5 and SHA-256: of bytes as they are written (one pass, the file is never
// read back), or of a host file read in large sequential chunks.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace salvage {

struct FileDigest {
    bool ok = false;
    std::uint64_t bytes = 0;
    std::string md5, sha256;  // lower-case hex
};

// Both digests over a stream of bytes.
class StreamDigest {
public:
    StreamDigest();
    ~StreamDigest();
    StreamDigest(StreamDigest&&) noexcept;
    StreamDigest& operator=(StreamDigest&&) noexcept;
    void add(const std::uint8_t* data, std::size_t size);
    // Zeros, without a buffer of them from the caller.
    void addZeros(std::uint64_t count);
    // The digests of everything added; the stream is finished.
    FileDigest finish();

private:
    struct Contexts;
    std::unique_ptr<Contexts> ctx_;
    std::uint64_t bytes_ = 0;
};

FileDigest digestFile(const std::filesystem::path& path);

}  // namespace salvage
