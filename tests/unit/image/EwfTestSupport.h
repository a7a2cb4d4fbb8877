#pragma once
// Helpers shared by the EWF reader and export tests.
#include <openssl/evp.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "TestPaths.h"
#include "image/SectorSource.h"

namespace salvage::test {

// MD5 of `bytes` bytes read through the source in reads of `step` bytes.
inline std::string md5Through(readWriteInterface& source, std::uint64_t bytes, std::uint32_t step) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    std::vector<std::uint8_t> buffer(step);
    bool ok = true;
    for (std::uint64_t at = 0; at < bytes && ok; at += step) {
        std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(step, bytes - at));
        ok = readAt(source, std::int64_t(at), buffer.data(), n);
        EVP_DigestUpdate(ctx, buffer.data(), n);
    }
    unsigned char digest[16];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, digest, &len);
    EVP_MD_CTX_free(ctx);
    if (!ok) return "read failed";
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

// ewf.expect from make_ewf.sh: image file name -> MD5 of its media.
inline std::map<std::string, std::string> ewfExpect(const std::filesystem::path& file) {
    std::map<std::string, std::string> out;
    std::ifstream in(file);
    std::string name, md5;
    while (in >> name >> md5) out[name] = md5;
    return out;
}

// Copies a segment set into a scratch folder, for damaging it.
inline std::filesystem::path copySet(const std::string& scratch, const std::string& base, int segments) {
    std::filesystem::path dir = scratchDir(scratch);
    for (int i = 1; i <= segments; ++i) {
        std::string name = base + ".E0" + std::to_string(i);
        std::filesystem::copy_file(fixturePath(name), dir / name);
    }
    return dir;
}

inline std::vector<std::uint8_t> fileBytes(const std::filesystem::path& p, std::uint64_t offset = 0,
                                           std::uint64_t count = UINT64_MAX);

// Copies the single-segment, uncompressed mbr_ftk.E01 to `to` with one byte
// of the NTFS boot sector (at 1 MiB of the media) changed, so the chunk
// holding it fails its checksum.
inline bool copyWithBadChunk(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::copy_file(from, to);
    auto bytes = fileBytes(to);
    const std::uint8_t sig[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
    auto it = std::search(bytes.begin(), bytes.end(), sig, sig + sizeof sig);
    if (it == bytes.end()) return false;
    std::fstream f(to, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(it - bytes.begin()) + 100);
    f.put(char(*(it + 100) ^ 0xFF));
    return bool(f);
}

inline std::vector<std::uint8_t> fileBytes(const std::filesystem::path& p, std::uint64_t offset,
                                           std::uint64_t count) {
    std::ifstream in(p, std::ios::binary);
    in.seekg(std::streamoff(offset));
    std::vector<std::uint8_t> out;
    char c;
    while (out.size() < count && in.get(c)) out.push_back(std::uint8_t(c));
    return out;
}

}  // namespace salvage::test
