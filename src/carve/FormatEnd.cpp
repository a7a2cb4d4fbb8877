#include "carve/FormatEnd.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace salvage {

using namespace std::string_view_literals;

namespace {
std::string lowerAscii(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 128 ? char(c >= 'A' && c <= 'Z' ? c + 32 : c) : '?');
    return out;
}
}  // namespace

std::optional<std::uint64_t> jpegEnd(ByteView d) {
    // Marker segments with their lengths; after each start of scan the
    // entropy-coded data runs to the next marker that is neither a stuffed
    // 0xFF00 nor a restart marker. The end-of-image marker after the last
    // scan ends the file; thumbnails inside APP segments are passed over.
    if (!(d[0] == 0xFF && d[1] == 0xD8)) return std::nullopt;
    std::size_t pos = 2;
    bool sawScan = false;
    while (d.has(pos, 2)) {
        if (d[pos] != 0xFF) return std::nullopt;
        std::uint8_t marker = d[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9) return sawScan ? std::optional<std::uint64_t>(pos + 2) : std::nullopt;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            pos += 2;
            continue;
        }
        if (!d.has(pos + 2, 2)) return std::nullopt;
        std::size_t length = be16(d, pos + 2);
        if (length < 2) return std::nullopt;
        pos += 2 + length;
        if (marker != 0xDA) continue;
        sawScan = true;
        while (pos < d.size()) {  // entropy-coded data
            const std::uint8_t* hit = static_cast<const std::uint8_t*>(std::memchr(d.data() + pos, 0xFF, d.size() - pos));
            if (!hit) return std::nullopt;
            pos = std::size_t(hit - d.data());
            if (pos + 1 >= d.size()) return std::nullopt;
            std::uint8_t next = d[pos + 1];
            if (next == 0x00 || next == 0xFF || (next >= 0xD0 && next <= 0xD7)) {
                pos += next == 0xFF ? 1 : 2;
                continue;
            }
            break;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> pngEnd(ByteView d) {
    static const std::uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (!d.has(0, 8) || std::memcmp(d.data(), kSig, 8) != 0) return std::nullopt;
    std::uint64_t pos = 8;
    // Chunks: length, type, data, CRC. IEND closes the file.
    while (d.has(pos, 12)) {
        std::uint64_t length = be32(d, pos);
        bool iend = d.matches(pos + 4, "IEND");
        if (length > d.size() || d.size() - pos - 12 < length) return std::nullopt;
        pos += 12 + length;
        if (iend) return pos;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> gifEnd(ByteView d) {
    if (!d.matches(0, "GIF87a") && !d.matches(0, "GIF89a")) return std::nullopt;
    std::uint64_t pos = 13;
    std::uint8_t flags = d[10];
    if (flags & 0x80) pos += 3u << ((flags & 7) + 1);
    auto skipSubBlocks = [&]() {
        while (pos < d.size()) {
            std::uint8_t n = d[pos];
            pos += 1 + n;
            if (n == 0) return true;
        }
        return false;
    };
    while (pos < d.size()) {
        std::uint8_t kind = d[pos];
        if (kind == 0x3B) return pos + 1;  // trailer
        if (kind == 0x21) {                // extension: label, sub-blocks
            pos += 2;
            if (!skipSubBlocks()) return std::nullopt;
        } else if (kind == 0x2C) {  // image: descriptor, local table, LZW size, sub-blocks
            if (!d.has(pos, 10)) return std::nullopt;
            std::uint8_t local = d[pos + 9];
            pos += 10;
            if (local & 0x80) pos += 3u << ((local & 7) + 1);
            pos += 1;
            if (!skipSubBlocks()) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> tiffEnd(ByteView d) {
    // The furthest byte any IFD, out-of-line value, strip or tile reaches.
    const bool little = d.matches(0, "II*\0"sv), big = d.matches(0, "MM\0*"sv);
    if (!little && !big) return std::nullopt;
    auto r16 = [&](std::uint64_t at) -> std::uint64_t { return at > d.size() ? 0 : little ? le16(d, at) : be16(d, at); };
    auto r32 = [&](std::uint64_t at) -> std::uint64_t { return at > d.size() ? 0 : little ? le32(d, at) : be32(d, at); };
    static constexpr std::uint64_t kTypeBytes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    // Caps that keep a looping or inflated IFD chain finite.
    constexpr int kMaxIfds = 1024;
    constexpr std::uint64_t kMaxValues = 1 << 20;
    std::uint64_t end = 8, ifd = r32(4);
    for (int n = 0; ifd != 0 && n < kMaxIfds; ++n) {
        if (!d.has(ifd, 2)) return std::nullopt;
        std::uint64_t count = r16(ifd);
        if (!d.has(ifd + 2, count * 12 + 4)) return std::nullopt;
        end = std::max(end, ifd + 2 + count * 12 + 4);
        std::uint64_t offsetsTag = 0, countsTag = 0, offsetsEntry = 0, countsEntry = 0;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t e = ifd + 2 + i * 12;
            std::uint64_t tag = r16(e), type = r16(e + 2), values = r32(e + 4);
            std::uint64_t bytes = type < 13 ? kTypeBytes[type] * values : 0;
            if (bytes > 4) end = std::max(end, r32(e + 8) + bytes);
            if (tag == 273 || tag == 324) offsetsTag = tag, offsetsEntry = e;      // strip / tile offsets
            if (tag == 279 || tag == 325) countsTag = tag, countsEntry = e;        // strip / tile byte counts
        }
        if (offsetsTag && countsTag) {
            std::uint64_t values = std::min<std::uint64_t>(r32(offsetsEntry + 4), kMaxValues);
            bool shortOffsets = r16(offsetsEntry + 2) == 3, shortCounts = r16(countsEntry + 2) == 3;
            std::uint64_t offsetsAt = values * (shortOffsets ? 2 : 4) > 4 ? r32(offsetsEntry + 8) : offsetsEntry + 8;
            std::uint64_t countsAt = values * (shortCounts ? 2 : 4) > 4 ? r32(countsEntry + 8) : countsEntry + 8;
            for (std::uint64_t k = 0; k < values; ++k) {
                std::uint64_t o = shortOffsets ? r16(offsetsAt + 2 * k) : r32(offsetsAt + 4 * k);
                std::uint64_t c = shortCounts ? r16(countsAt + 2 * k) : r32(countsAt + 4 * k);
                end = std::max(end, o + c);
            }
        }
        ifd = r32(ifd + 2 + count * 12);
    }
    return end;
}

std::optional<std::uint64_t> gzipEnd(ByteView d) {
    // A gzip member ends where its deflate stream and 8-byte trailer end;
    // inflating is the only way to learn where that is.
    if (!(d[0] == 0x1F && d[1] == 0x8B && d[2] == 8)) return std::nullopt;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
    std::vector<std::uint8_t> sink(1 << 16);
    z.next_in = const_cast<Bytef*>(d.data());
    std::optional<std::uint64_t> end;
    std::size_t fed = 0;
    for (;;) {
        if (z.avail_in == 0) {
            std::size_t n = std::min<std::size_t>(d.size() - fed, 1 << 30);
            if (n == 0) break;
            z.next_in = const_cast<Bytef*>(d.data() + fed);
            z.avail_in = uInt(n);
            fed += n;
        }
        z.next_out = sink.data();
        z.avail_out = uInt(sink.size());
        int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            end = z.total_in;
            break;
        }
        if (rc != Z_OK) break;
    }
    inflateEnd(&z);
    return end;
}

std::optional<std::uint64_t> pdfEofEnd(ByteView d) {
    // Searched backwards a '%' at a time with memrchr: a PDF find runs to
    // the next one and can span megabytes after the document's own end.
    static constexpr std::string_view kEof = "%%EOF";
    if (d.size() < kEof.size()) return std::nullopt;
    std::size_t at = 0, before = d.size() - kEof.size() + 1;  // candidates lie below `before`
    for (;;) {
        const void* hit = before ? ::memrchr(d.data(), '%', before) : nullptr;
        if (!hit) return std::nullopt;
        at = std::size_t(static_cast<const std::uint8_t*>(hit) - d.data());
        if (std::memcmp(d.data() + at, kEof.data(), kEof.size()) == 0) break;
        before = at;
    }
    std::uint64_t end = at + kEof.size();
    if (end < d.size() && d[end] == '\r') ++end;
    if (end < d.size() && d[end] == '\n') ++end;
    return end;
}

std::optional<std::uint64_t> pdfEnd(ByteView d) {
    // The last %%EOF (incremental updates append further ones), with the
    // line end that follows it.
    if (!d.matches(0, "%PDF-")) return std::nullopt;
    return pdfEofEnd(d);
}

std::optional<std::uint64_t> zipEnd(ByteView d) {
    if (!d.matches(0, "PK\x03\x04")) return std::nullopt;
    // The end-of-central-directory record whose directory lies right before
    // it, counted from the find's start, with its comment. An inner archive
    // stored inside this one has a directory elsewhere and is passed over.
    static constexpr std::string_view kEocd = "PK\x05\x06";
    std::string_view text(reinterpret_cast<const char*>(d.data()), d.size());
    for (std::size_t at = text.find(kEocd); at != std::string_view::npos; at = text.find(kEocd, at + 1)) {
        if (!d.has(at, 22)) return std::nullopt;
        std::uint64_t dirSize = le32(d, at + 12), dirOffset = le32(d, at + 16);
        std::uint64_t comment = le16(d, at + 20);
        bool zip64 = dirOffset == 0xFFFFFFFF || dirSize == 0xFFFFFFFF;
        bool fits = zip64 ? (at >= 20 && d.matches(at - 20, "PK\x06\x07")) : dirOffset + dirSize == at;
        if (fits && d.has(at + 22, comment)) return at + 22 + comment;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> bmpEnd(ByteView h) {
    if (!h.matches(0, "BM") || !h.has(0, 26)) return std::nullopt;
    std::uint64_t size = le32(h, 2);
    if (size < 26) return std::nullopt;
    return size;
}

std::optional<std::uint64_t> riffEnd(ByteView h) {
    if (!h.matches(0, "RIFF") || !h.has(0, 12)) return std::nullopt;
    std::uint64_t size = std::uint64_t(le32(h, 4)) + 8;
    return size + (size & 1);  // chunks are padded to an even length
}

std::optional<std::uint64_t> sevenZipEnd(ByteView h) {
    if (!h.matches(0, "7z\xBC\xAF\x27\x1C") || !h.has(0, 32)) return std::nullopt;
    // Start header: offset and size of the next header, after the 32 bytes.
    std::uint64_t offset = le64(h, 12), size = le64(h, 20), end = 0;
    if (!checkedAdd(offset, size, end) || !checkedAdd(end, std::uint64_t(32), end)) return std::nullopt;
    return end;
}

std::optional<std::uint64_t> sqliteEnd(ByteView h) {
    if (!h.matches(0, std::string_view("SQLite format 3\0", 16)) || !h.has(0, 100)) return std::nullopt;
    // Page size (1 stands for 65536) times the page count of the header,
    // which is valid when its change counter matches "version-valid-for".
    std::uint64_t pageSize = be16(h, 16) == 1 ? 65536 : be16(h, 16);
    std::uint64_t pages = be32(h, 28), bytes = 0;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) || pages == 0 || be32(h, 24) != be32(h, 92))
        return std::nullopt;
    if (!checkedMul(pageSize, pages, bytes)) return std::nullopt;
    return bytes;
}

bool formatEndIsLastEof(std::u16string_view extension) { return lowerAscii(extension) == "pdf"; }

bool formatEndNeedsWholeFind(std::u16string_view extension) {
    const std::string ext = lowerAscii(extension);
    return ext == "jpg" || ext == "jpeg" || ext == "png" || ext == "gif" || ext == "pdf" || ext == "tif" ||
           ext == "tiff" || ext == "gz" || ext == "zip" ||
           ext == "docx" || ext == "xlsx" || ext == "pptx" || ext == "odt" || ext == "jar";
}

std::optional<std::uint64_t> formatEnd(std::u16string_view extension, ByteView head, std::uint64_t findLength) {
    const std::string ext = lowerAscii(extension);
    const bool whole = head.size() >= findLength;
    std::optional<std::uint64_t> end;
    if (ext == "bmp") end = bmpEnd(head);
    else if (ext == "wav" || ext == "avi") end = riffEnd(head);
    else if (ext == "7z") end = sevenZipEnd(head);
    else if (ext == "db" || ext == "sqli") end = sqliteEnd(head);
    else if (ext == "jpg" || ext == "jpeg") end = jpegEnd(head);
    else if (ext == "png") end = pngEnd(head);
    else if (ext == "gif") end = gifEnd(head);
    else if (ext == "tif" || ext == "tiff") end = tiffEnd(head);
    else if (ext == "gz") end = gzipEnd(head);
    else if (ext == "pdf") end = whole ? pdfEnd(head) : std::nullopt;  // the last %%EOF needs the whole find
    else if (formatEndNeedsWholeFind(extension)) end = zipEnd(head);
    if (!end || *end == 0 || *end > findLength) return std::nullopt;
    return end;
}

std::optional<std::uint64_t> formatEndSettled(std::u16string_view extension, ByteView head, std::uint64_t findLength) {
    const std::string ext = lowerAscii(extension);
    if (ext == "jpg" || ext == "jpeg" || ext == "png" || ext == "gif" || ext == "gz")
        return formatEnd(extension, head, findLength);  // every byte they looked at lies before the end
    if (ext == "bmp" || ext == "wav" || ext == "avi" || ext == "7z" || ext == "db" || ext == "sqli")
        return head.size() >= 100 ? formatEnd(extension, head, findLength) : std::nullopt;  // headers of at most 100 bytes
    if (ext == "pdf" || ext == "tif" || ext == "tiff" || !formatEndNeedsWholeFind(extension)) return std::nullopt;
    // ZIP: an end record passed over because its comment ran past the head
    // lies before the one found, so a head reaching a longest comment past
    // the end found leaves none passed over for that reason.
    constexpr std::uint64_t kLongestTail = 22 + 0xFFFF;
    const auto end = formatEnd(extension, head, findLength);
    return end && *end <= head.size() && head.size() - *end >= kLongestTail ? end : std::nullopt;
}

}  // namespace salvage
