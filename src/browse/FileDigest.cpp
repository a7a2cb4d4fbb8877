#include "browse/FileDigest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace salvage {

namespace {
std::string hex(const unsigned char* d, unsigned n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < n; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}
struct CtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

FileDigest digestFile(const std::filesystem::path& path) {
    FileDigest out;
    std::unique_ptr<std::FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
    std::unique_ptr<EVP_MD_CTX, CtxFree> md5(EVP_MD_CTX_new()), sha(EVP_MD_CTX_new());
    if (!f || !md5 || !sha || !EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) ||
        !EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr))
        return out;
    // One buffer per thread, reused: a save digests every file it writes,
    // and a fresh zeroed megabyte for each of 100,000 small files costs
    // more than reading them back.
    thread_local std::vector<unsigned char> buf(1 << 20);
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) {
        EVP_DigestUpdate(md5.get(), buf.data(), n);
        EVP_DigestUpdate(sha.get(), buf.data(), n);
        out.bytes += n;
    }
    if (std::ferror(f.get())) return out;
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(md5.get(), d, &len);
    out.md5 = hex(d, len);
    EVP_DigestFinal_ex(sha.get(), d, &len);
    out.sha256 = hex(d, len);
    out.ok = true;
    return out;
}

}  // namespace salvage
