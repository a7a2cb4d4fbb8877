#include "browse/FileDigest.h"

#include <openssl/evp.h>

#include <algorithm>
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

struct StreamDigest::Contexts {
    std::unique_ptr<EVP_MD_CTX, CtxFree> md5{EVP_MD_CTX_new()}, sha{EVP_MD_CTX_new()};
    bool ok = false;
};

StreamDigest::StreamDigest() : ctx_(std::make_unique<Contexts>()) {
    ctx_->ok = ctx_->md5 && ctx_->sha && EVP_DigestInit_ex(ctx_->md5.get(), EVP_md5(), nullptr) &&
               EVP_DigestInit_ex(ctx_->sha.get(), EVP_sha256(), nullptr);
}
StreamDigest::~StreamDigest() = default;
StreamDigest::StreamDigest(StreamDigest&&) noexcept = default;
StreamDigest& StreamDigest::operator=(StreamDigest&&) noexcept = default;

void StreamDigest::add(const std::uint8_t* data, std::size_t size) {
    if (!ctx_ || !ctx_->ok || size == 0) return;
    EVP_DigestUpdate(ctx_->md5.get(), data, size);
    EVP_DigestUpdate(ctx_->sha.get(), data, size);
    bytes_ += size;
}

void StreamDigest::addZeros(std::uint64_t count) {
    static const std::vector<std::uint8_t> zeros(1 << 16, 0);
    while (count > 0) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(count, zeros.size()));
        add(zeros.data(), n);
        count -= n;
    }
}

FileDigest StreamDigest::finish() {
    FileDigest out;
    if (!ctx_ || !ctx_->ok) return out;
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx_->md5.get(), d, &len);
    out.md5 = hex(d, len);
    EVP_DigestFinal_ex(ctx_->sha.get(), d, &len);
    out.sha256 = hex(d, len);
    out.bytes = bytes_;
    out.ok = true;
    ctx_.reset();
    return out;
}

FileDigest digestFile(const std::filesystem::path& path) {
    std::unique_ptr<std::FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
    if (!f) return {};
    StreamDigest digest;
    // One buffer per thread, reused across files.
    thread_local std::vector<unsigned char> buf(1 << 20);
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) digest.add(buf.data(), n);
    if (std::ferror(f.get())) return {};
    return digest.finish();
}

}  // namespace salvage
