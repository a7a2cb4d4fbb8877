#pragma once
// MD5 and SHA-256 of a host file, read in large sequential chunks.
#include <filesystem>
#include <string>

namespace salvage {

struct FileDigest {
    bool ok = false;
    std::uint64_t bytes = 0;
    std::string md5, sha256;  // lower-case hex
};

FileDigest digestFile(const std::filesystem::path& path);

}  // namespace salvage
