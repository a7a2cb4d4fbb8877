#include "carve/CarveWriter.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#include "carve/FormatEnd.h"
#include "platform/Text.h"

namespace salvage {

namespace {
constexpr std::uint32_t kPieceBytes = 1 << 20;
// Finds whose format knows its length from the header need only this much.
constexpr std::uint64_t kHeaderWindowBytes = 1 << 20;

struct Digest {
    Digest(const EVP_MD* md) : ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free) { EVP_DigestInit_ex(ctx.get(), md, nullptr); }
    void add(const std::uint8_t* p, std::size_t n) { EVP_DigestUpdate(ctx.get(), p, n); }
    std::string hex() {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned len = 0;
        EVP_DigestFinal_ex(ctx.get(), out, &len);
        static const char* digits = "0123456789abcdef";
        std::string s;
        for (unsigned i = 0; i < len; ++i) {
            s += digits[out[i] >> 4];
            s += digits[out[i] & 15];
        }
        return s;
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx;
};

// An output file: created or truncated, never through a symbolic link that
// could point outside the folder.
class OutFile {
public:
    explicit OutFile(const std::filesystem::path& p) : fd_(::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644)) {}
    ~OutFile() { if (fd_ >= 0) ::close(fd_); }
    bool ok() const { return fd_ >= 0; }
    bool write(const std::uint8_t* p, std::size_t n) {
        while (n) {
            ssize_t w = ::write(fd_, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            p += w;
            n -= std::size_t(w);
        }
        return true;
    }
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}
}  // namespace

CarveWriter::CarveWriter(readWriteInterface& source, std::int64_t volumeBytes, std::filesystem::path outputFolder,
                         Reporter& reporter)
    : source_(source), volumeBytes_(volumeBytes), folder_(std::move(outputFolder)), reporter_(reporter) {}

std::string CarveWriter::uniqueName(std::uint64_t start, std::u16string_view extension) {
    // Digits of the offset and the extension's letters and digits only: the
    // name can neither leave the folder nor hide as a dot file.
    std::string ext;
    for (char16_t c : extension)
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) ext.push_back(char(c));
    if (ext.empty()) ext = "bin";
    std::string base = std::to_string(start);
    std::string name = base + "." + ext;
    for (int n = 2; std::find(usedNames_.begin(), usedNames_.end(), name) != usedNames_.end(); ++n)
        name = base + "_" + std::to_string(n) + "." + ext;
    usedNames_.push_back(name);
    return name;
}

bool CarveWriter::writeOne(const myJpg& engine, std::size_t index, CarvedFile& out) {
    const FoundFile& find = engine.foundFiles[index];
    const SignatureType* type = find.typeIndex < engine.signatureTypes.size() ? &engine.signatureTypes[find.typeIndex] : nullptr;
    out.findIndex = index;
    out.start = find.start;
    out.length = find.length;
    out.extension = type ? type->extension : u"";
    out.category = type ? type->category : u"";
    out.fileName = uniqueName(find.start, out.extension);

    // The bytes the find covers inside the volume.
    std::uint64_t available = find.start < std::uint64_t(std::max<std::int64_t>(volumeBytes_, 0))
                                  ? std::uint64_t(volumeBytes_) - find.start : 0;
    std::uint64_t length = std::min<std::uint64_t>(std::uint64_t(std::max<std::int64_t>(find.length, 0)), available);
    bool pastVolume = length < std::uint64_t(std::max<std::int64_t>(find.length, 0));

    // The find's first bytes, enough to learn where its format ends. Formats
    // found by reading through the file are tried on a window that doubles
    // until their end shows up or the whole find (up to the trim window) is
    // read, so a small file in a long find costs a small read.
    const bool throughFile = formatEndNeedsWholeFind(out.extension);
    const std::uint64_t limit = std::min(length, throughFile ? kTrimWindowBytes : kHeaderWindowBytes);
    std::vector<std::uint8_t> head;
    std::optional<std::uint64_t> end;
    for (std::uint64_t window = std::min(limit, kHeaderWindowBytes);; window = std::min(limit, window * 2)) {
        std::size_t from = head.size();
        head.resize(std::size_t(window), 0);
        for (std::size_t done = from; done < head.size(); done += kPieceBytes) {
            auto n = std::uint32_t(std::min<std::size_t>(kPieceBytes, head.size() - done));
            if (!readAt(source_, std::int64_t(find.start + done), head.data() + done, n)) out.complete = false;
        }
        end = formatEnd(out.extension, ByteView(head), length);
        if (end || window >= limit) break;
    }
    if (end) {
        out.trimmed = *end < length;
        length = *end;
        pastVolume = false;  // the file ends inside the volume
    }
    if (pastVolume) out.complete = false;

    OutFile file(folder_ / out.fileName);
    if (!file.ok()) {
        reporter_.message(u16("cannot create " + (folder_ / out.fileName).string()), u"", MessageIcon::Error);
        return false;
    }
    Digest md5(EVP_md5()), sha(EVP_sha256());
    auto emit = [&](const std::uint8_t* p, std::size_t n) {
        md5.add(p, n);
        sha.add(p, n);
        out.writtenBytes += n;
        return file.write(p, n);
    };
    bool ok = emit(head.data(), std::size_t(std::min<std::uint64_t>(head.size(), length)));
    std::vector<std::uint8_t> piece;
    for (std::uint64_t at = head.size(); ok && at < length; at += kPieceBytes) {
        if (pollStop()) {
            out.complete = false;  // stopped inside the file: the report says it is cut short
            break;
        }
        piece.assign(std::size_t(std::min<std::uint64_t>(kPieceBytes, length - at)), 0);
        if (!readAt(source_, std::int64_t(find.start + at), piece.data(), std::uint32_t(piece.size()))) out.complete = false;
        ok = emit(piece.data(), piece.size());
    }
    ok = file.close() && ok;
    out.md5 = md5.hex();
    out.sha256 = sha.hex();
    if (!ok) reporter_.message(u16("cannot write " + (folder_ / out.fileName).string()), u"", MessageIcon::Error);
    return ok;
}

bool CarveWriter::write(const myJpg& engine, const std::vector<std::size_t>& findIndices) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (!std::filesystem::is_directory(folder_, ec)) {
        reporter_.message(u16("cannot create folder " + folder_.string()), u"", MessageIcon::Error);
        return false;
    }
    reporter_.setProgressRange(0, std::int64_t(findIndices.size()));
    std::int64_t done = 0;
    for (std::size_t index : findIndices) {
        reporter_.setProgressPosition(done++);
        if (pollStop()) break;
        if (index >= engine.foundFiles.size()) continue;
        CarvedFile c;
        writeOne(engine, index, c);
        carved_.push_back(std::move(c));
    }
    reporter_.setProgressPosition(done);
    return writeReport();
}

bool CarveWriter::writeReport() const {
    std::FILE* f = std::fopen((folder_ / kCarveReportName).c_str(), "wb");
    if (!f) {
        reporter_.message(u16("cannot create " + (folder_ / kCarveReportName).string()), u"", MessageIcon::Error);
        return false;
    }
    std::fprintf(f, "offset,length,written,type,category,md5,sha256,trimmed,complete,file\n");
    for (const CarvedFile& c : carved_)
        std::fprintf(f, "%llu,%lld,%llu,%s,%s,%s,%s,%s,%s,%s\n", (unsigned long long)c.start, (long long)c.length,
                     (unsigned long long)c.writtenBytes, csvField(toUtf8(c.extension)).c_str(),
                     csvField(toUtf8(c.category)).c_str(), c.md5.c_str(), c.sha256.c_str(), c.trimmed ? "yes" : "no",
                     c.complete ? "yes" : "no", c.fileName.c_str());
    return std::fclose(f) == 0;
}

}  // namespace salvage
