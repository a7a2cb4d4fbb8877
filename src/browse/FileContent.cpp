#include "browse/FileContent.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteView.h"

namespace salvage {

namespace {
// Bytes read with one call.
constexpr std::uint64_t kPieceBytes = 1u << 20;
}  // namespace

void appendDamage(std::vector<DamagedRange>& list, std::uint64_t fileOffset, std::uint64_t length,
                  std::optional<std::uint64_t> imageOffset, const std::string& why) {
    if (!list.empty()) {
        DamagedRange& last = list.back();
        const bool imagesMeet = (!last.imageOffset && !imageOffset) ||
                                (last.imageOffset && imageOffset && *last.imageOffset + last.length == *imageOffset);
        if (last.fileOffset + last.length == fileOffset && last.cause == why && imagesMeet) {
            last.length += length;
            return;
        }
    }
    list.push_back({fileOffset, length, imageOffset, why});
}

std::string damageCauses(const std::vector<DamagedRange>& ranges) {
    std::string out;
    for (const DamagedRange& d : ranges)
        if (out.find(d.cause) == std::string::npos) out += (out.empty() ? "" : ", ") + d.cause;
    return out;
}

PieceLayout::Step PieceLayout::place(const ContentPiece& piece) {
    Step s;
    // Pieces come in file order; a gap is content nobody delivered.
    if (piece.fileOffset > size_) {
        s.gapAt = size_;
        s.gap = piece.fileOffset - size_;
        size_ = piece.fileOffset;
    }
    s.at = size_;
    s.skip = size_ - piece.fileOffset;
    if (s.skip >= piece.length) return s;
    std::uint64_t length = piece.length - s.skip;
    s.imageOffset = piece.imageOffset;
    if (s.imageOffset) *s.imageOffset += s.skip;
    // Missing content is placed whatever the limit: a file whose content
    // ends early is not padded with invented zeros, so it costs nothing.
    if (!piece.data && (piece.cause || !piece.readOk)) {
        s.missing = s.damaged = true;
        s.length = length;
        size_ += length;
        return s;
    }
    if (size_ >= limit_) {
        clipped_ = true;
        s.stop = true;
        return s;
    }
    if (length > limit_ - size_) {
        length = limit_ - size_;
        clipped_ = true;
    }
    s.damaged = !piece.readOk || piece.cause;
    s.length = length;
    size_ += length;
    s.stop = clipped_;
    return s;
}

ContentStream::ContentStream(ContentSink& sink, readWriteInterface* source, std::uint64_t size)
    : sink_(sink), source_(source), size_(size), layoutOnly_(!sink.wantsBytes()) {}

std::uint64_t ContentStream::imageBytes() const {
    if (!source_ || source_->totalSectors() <= 0) return UINT64_MAX;
    std::uint64_t b = 0;
    return checkedMul(std::uint64_t(source_->totalSectors()), kSectorBytes, b) ? b : UINT64_MAX;
}

std::optional<std::uint64_t> ContentStream::imageOffset(std::int64_t volumeOffset) const {
    if (volumeOffset < 0) return std::nullopt;
    std::int64_t at = 0;
    if (!checkedAdd(volumeOffset, source_ ? source_->baseOffset : 0, at) || at < 0) return std::nullopt;
    return std::uint64_t(at);
}

bool ContentStream::deliver(ContentPiece p) {
    if (refused_ || offset_ >= size_) return false;
    p.length = std::min(p.length, size_ - offset_);
    if (p.length == 0) return !done();
    p.fileOffset = offset_;
    if (!sink_.put(p)) {
        refused_ = true;
        return false;
    }
    offset_ += p.length;
    return !done();
}

bool ContentStream::readInto(std::int64_t volumeOffset, std::uint8_t* buf, std::uint64_t length) {
    std::memset(buf, 0, std::size_t(length));
    const auto at = imageOffset(volumeOffset);
    if (!source_ || !at) return false;
    const std::uint64_t end = imageBytes();
    bool ok = true;
    std::uint64_t inImage = *at >= end ? 0 : std::min(length, end - *at);
    if (inImage < length) ok = false;  // the tail lies past the image's end
    if (layoutOnly_) return ok;        // zeros stand for bytes nobody will look at
    for (std::uint64_t done = 0; done < inImage;) {
        const std::uint64_t n = std::min(inImage - done, kPieceBytes);
        if (!readAt(*source_, volumeOffset + std::int64_t(done), buf + done, std::uint32_t(n))) ok = false;
        done += n;
    }
    return ok;
}

bool ContentStream::read(std::int64_t volumeOffset, std::uint64_t length, ByteRun::Kind kind) {
    length = std::min(length, remaining());
    const auto at = imageOffset(volumeOffset);
    if (!source_ || !at) return missing(length, cause::kOutsideVolume);
    const std::uint64_t end = imageBytes();
    for (std::uint64_t got = 0; got < length && !done();) {
        const std::uint64_t pos = *at + got;
        const std::int64_t vo = volumeOffset + std::int64_t(got);
        if (pos >= end) return missing(length - got, cause::kPastImageEnd, vo);
        if (layoutOnly_) {
            // The whole run inside the image as one piece, nothing read.
            ContentPiece p;
            p.length = std::min(length - got, end - pos);
            p.imageOffset = pos;
            p.kind = kind;
            deliver(p);
            got += p.length;
            continue;
        }
        const std::uint64_t n = std::min({length - got, kPieceBytes, end - pos});
        buf_.assign(std::size_t(n), 0);  // a failed read gives zeros, never stale bytes
        if (readAt(*source_, vo, buf_.data(), std::uint32_t(n))) {
            ContentPiece p;
            p.data = buf_.data();
            p.length = n;
            p.imageOffset = pos;
            p.kind = kind;
            deliver(p);
        } else {
            // Sector by sector, on the image's sector grid, so the damage is
            // marked to the sector and good sectors around it still count.
            for (std::uint64_t s = 0; s < n && !done();) {
                const std::uint64_t step = std::min(n - s, kSectorBytes - (pos + s) % kSectorBytes);
                std::uint8_t* b = buf_.data() + s;
                std::memset(b, 0, std::size_t(step));
                ContentPiece p;
                p.data = b;
                p.length = step;
                p.imageOffset = pos + s;
                p.kind = kind;
                p.readOk = readAt(*source_, vo + std::int64_t(s), b, std::uint32_t(step));
                if (!p.readOk) p.cause = cause::kReadFailed;
                deliver(p);
                s += step;
            }
        }
        got += n;
    }
    return !done();
}

bool ContentStream::bytes(const std::uint8_t* data, std::uint64_t length, bool readOk,
                          std::optional<std::int64_t> volumeOffset, ByteRun::Kind kind, std::uint64_t storedLength) {
    ContentPiece p;
    p.data = data;
    p.length = length;
    p.readOk = readOk;
    if (!readOk) p.cause = cause::kReadFailed;
    if (volumeOffset) p.imageOffset = imageOffset(*volumeOffset);
    p.kind = kind;
    p.storedLength = storedLength;
    return deliver(p);
}

bool ContentStream::sparse(std::uint64_t length) {
    ContentPiece p;
    p.length = length;
    p.kind = ByteRun::Kind::Sparse;
    return deliver(p);
}

bool ContentStream::missing(std::uint64_t length, const char* why, std::optional<std::int64_t> volumeOffset) {
    ContentPiece p;
    p.length = length;
    p.readOk = false;
    p.cause = why;
    if (volumeOffset) p.imageOffset = imageOffset(*volumeOffset);
    return deliver(p);
}

void ContentStream::finish(const char* why) {
    if (!refused_ && offset_ < size_) missing(size_ - offset_, why);
}

bool MemorySink::put(const ContentPiece& piece) {
    if (!piece.readOk || piece.cause) damaged = true;
    if (piece.length > maxBytes_ - std::min<std::uint64_t>(maxBytes_, bytes.size())) {
        overflow = true;
        return false;
    }
    if (piece.data) bytes.insert(bytes.end(), piece.data, piece.data + piece.length);
    else bytes.resize(bytes.size() + std::size_t(piece.length), 0);
    return true;
}

}  // namespace salvage
