#include "browse/SaveVerify.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "browse/FileDigest.h"
#include "platform/Text.h"

namespace salvage {

namespace {
constexpr std::uint64_t kPieceBytes = 1 << 20;

// The parts of [from, to) of the file that lie outside every damaged range.
std::vector<std::pair<std::uint64_t, std::uint64_t>> undamagedParts(std::uint64_t from, std::uint64_t to,
                                                                    const std::vector<DamagedRange>& damaged) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> parts{{from, to}};
    for (const DamagedRange& d : damaged) {
        const std::uint64_t ds = d.fileOffset, de = d.fileOffset + d.length;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> next;
        for (auto [s, e] : parts) {
            if (de <= s || ds >= e) {
                next.emplace_back(s, e);
                continue;
            }
            if (s < ds) next.emplace_back(s, ds);
            if (de < e) next.emplace_back(de, e);
        }
        parts = std::move(next);
    }
    return parts;
}

// Compares the copy's bytes [at, at+length) with the image's bytes from
// imageOffset, or with zeros when there is no image offset. The first
// differing file offset, or nothing.
std::optional<std::string> compareRange(readWriteInterface& image, std::ifstream& copy, std::uint64_t at,
                                        std::uint64_t length, std::optional<std::uint64_t> imageOffset) {
    std::vector<std::uint8_t> fromCopy, fromImage;
    for (std::uint64_t done = 0; done < length; done += kPieceBytes) {
        const std::size_t n = std::size_t(std::min(kPieceBytes, length - done));
        fromCopy.assign(n, 0);
        fromImage.assign(n, 0);
        copy.clear();
        copy.seekg(std::streamoff(at + done));
        copy.read(reinterpret_cast<char*>(fromCopy.data()), std::streamsize(n));
        if (std::size_t(copy.gcount()) != n)
            return formatNarrow("the saved copy ends before file offset %llu", (unsigned long long)(at + done + n));
        if (imageOffset && !readAt(image, std::int64_t(*imageOffset + done), fromImage.data(), std::uint32_t(n)))
            return formatNarrow("the image cannot be read at offset %llu", (unsigned long long)(*imageOffset + done));
        auto diff = std::mismatch(fromCopy.begin(), fromCopy.end(), fromImage.begin());
        if (diff.first != fromCopy.end()) {
            const std::uint64_t off = at + done + std::uint64_t(diff.first - fromCopy.begin());
            return imageOffset ? formatNarrow("differs from the image at file offset %llu (image offset %llu)",
                                              (unsigned long long)off,
                                              (unsigned long long)(*imageOffset + (off - at)))
                               : formatNarrow("holds data at file offset %llu where the file is sparse",
                                              (unsigned long long)off);
        }
    }
    return std::nullopt;
}
}  // namespace

std::string verifySavedFile(readWriteInterface& image, const SavedFile& s) {
    if (s.written.empty()) return "no saved copy is recorded";
    const FileDigest d = digestFile(s.written);
    if (!d.ok) return "the saved copy cannot be read";
    if (!s.md5.empty() && d.md5 != s.md5) return "the saved copy's MD5 is not the recorded one";
    if (!s.sha256.empty() && d.sha256 != s.sha256) return "the saved copy's SHA-256 is not the recorded one";
    std::ifstream copy(s.written, std::ios::binary);
    if (!copy) return "the saved copy cannot be read";
    const std::int64_t base = image.baseOffset;
    image.baseOffset = 0;
    std::string problem;
    for (const ByteRun& r : s.runs) {
        if (r.kind == ByteRun::Kind::Compressed) continue;  // the digests cover these bytes
        if (r.kind != ByteRun::Kind::Sparse && !r.imageOffset) continue;  // no place on the image to compare with
        const std::optional<std::uint64_t> from = r.kind == ByteRun::Kind::Sparse ? std::nullopt : r.imageOffset;
        for (auto [ps, pe] : undamagedParts(r.fileOffset, r.fileOffset + r.length, s.damaged)) {
            std::optional<std::uint64_t> at;
            if (from) at = *from + (ps - r.fileOffset);
            if (auto p = compareRange(image, copy, ps, pe - ps, at)) {
                problem = *p;
                break;
            }
        }
        if (!problem.empty()) break;
    }
    image.baseOffset = base;
    return problem;
}

}  // namespace salvage
