#include "TestPaths.h"

#include <sys/resource.h>

#include <csignal>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace salvage::test {

namespace {
bool inCi() { return std::getenv("CI") != nullptr; }

std::string digestFile(const fs::path& p, const EVP_MD* md) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return {};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, md, nullptr);
    std::vector<char> buf(1 << 20);
    while (in) {
        in.read(buf.data(), std::streamsize(buf.size()));
        EVP_DigestUpdate(ctx, buf.data(), std::size_t(in.gcount()));
    }
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx, out, &len);
    EVP_MD_CTX_free(ctx);
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < len; ++i) {
        s += hex[out[i] >> 4];
        s += hex[out[i] & 15];
    }
    return s;
}
}  // namespace

fs::path fixturePath(const std::string& name) { return fs::path(SALVAGE_FIXTURE_DIR) / name; }

bool requireFixture(const std::string& name, fs::path& out) {
    out = fixturePath(name);
    if (fs::exists(out)) return true;
    if (inCi()) ADD_FAILURE() << "fixture " << out << " missing: build the 'fixtures' target";
    else std::fprintf(stderr, "*** SKIPPED: fixture %s missing (build the 'fixtures' target)\n", out.c_str());
    return false;
}

fs::path testdataDir() { return fs::path(SALVAGE_TESTDATA_DIR); }

fs::path testdataFile(const std::string& name, const std::string& member) {
    fs::path src = testdataDir() / name;
    if (!fs::exists(src)) return {};
    fs::path dest = fs::path(SALVAGE_BINARY_DIR) / "testdata";
    fs::create_directories(dest);
    if (src.extension() == ".zip") {
        fs::path dir = dest / src.stem();
        fs::path target = dir / member;
        if (!fs::exists(target)) {
            std::string cmd = "unzip -o -q '" + src.string() + "' -d '" + dir.string() + "'";
            if (std::system(cmd.c_str()) != 0) return {};
        }
        return fs::exists(target) ? target : fs::path();
    }
    if (src.extension() == ".gz") {
        fs::path target = dest / src.stem();
        if (!fs::exists(target)) {
            fs::path tmp = target;
            tmp += ".part";
            std::string cmd = "gunzip -c '" + src.string() + "' > '" + tmp.string() + "'";
            if (std::system(cmd.c_str()) != 0) return {};
            fs::rename(tmp, target);
        }
        return target;
    }
    return src;
}

bool requireTestdata(const std::string& name, const std::string& member, fs::path& out) {
    out = testdataFile(name, member);
    if (!out.empty()) return true;
    if (inCi()) ADD_FAILURE() << "shared test data " << name << " missing";
    else std::fprintf(stderr, "*** SKIPPED: shared test data %s absent\n", name.c_str());
    return false;
}

fs::path scratchDir(const std::string& name) {
    fs::path p = fs::path(SALVAGE_BINARY_DIR) / "scratch" / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

FileSizeLimit::FileSizeLimit(unsigned long long bytes) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    soft_ = old.rlim_cur;
    hard_ = old.rlim_max;
    signal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit now{rlim_t(bytes), old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &now);
}

FileSizeLimit::~FileSizeLimit() {
    rlimit old{rlim_t(soft_), rlim_t(hard_)};
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, signal_);
}

std::string md5File(const fs::path& p) { return digestFile(p, EVP_md5()); }
std::string sha256File(const fs::path& p) { return digestFile(p, EVP_sha256()); }

}  // namespace salvage::test
