#include "browse/FileDamage.h"

#include "platform/OutputLimits.h"

namespace salvage {

void DamageSink::note(std::uint64_t fileOffset, std::uint64_t length, std::optional<std::uint64_t> imageOffset,
                      const char* why) {
    appendDamage(ranges, fileOffset, length, imageOffset, why ? why : cause::kReadFailed);
}

// Follows the save's writer (OutputFile::put) step for step, so the ranges
// are the ones its report would list.
bool DamageSink::put(const ContentPiece& piece) {
    // Pieces come in file order; a gap is content nobody delivered.
    if (piece.fileOffset > size_) {
        note(size_, piece.fileOffset - size_, std::nullopt, cause::kNoRuns);
        size_ = piece.fileOffset;
    }
    const std::uint64_t skip = size_ - piece.fileOffset;
    if (skip >= piece.length) return true;
    std::uint64_t length = piece.length - skip;
    std::optional<std::uint64_t> at = piece.imageOffset;
    if (at) *at += skip;
    if (!piece.data && (piece.cause || !piece.readOk)) {
        note(size_, length, at, piece.cause);
        size_ += length;
        return true;
    }
    if (size_ >= limit_) {
        clipped_ = true;
        return false;
    }
    if (length > limit_ - size_) {
        length = limit_ - size_;
        clipped_ = true;
    }
    if (!piece.readOk || piece.cause) {
        note(size_, length, at, piece.cause);
    } else if (layoutOnly_ && source_ && at &&
               (piece.kind == ByteRun::Kind::Data || piece.kind == ByteRun::Kind::Compressed)) {
        known_.clear();
        if (piece.kind == ByteRun::Kind::Compressed) {
            // A unit is read whole to be decoded: any bad byte of its stored
            // clusters spoils all of it.
            source_->knownDamage(*at, piece.storedLength, known_);
            if (!known_.empty()) note(size_, length, at, cause::kReadFailed);
        } else {
            source_->knownDamage(*at, length, known_);
            for (const ImageRange& r : known_)
                note(size_ + (r.offset - *at), r.length, r.offset,
                     r.kind == ImageRange::Kind::PastEnd ? cause::kPastImageEnd : cause::kReadFailed);
        }
    }
    size_ += length;
    return !clipped_;
}

FileDamage damageOf(VolumeParser& parser, RecordId id, DamageDepth depth) {
    FileDamage out;
    if (!parser.isValidRecord(id) || parser.isDirectory(id)) {
        out.reason = "not a file";
        return out;
    }
    DamageSink sink(parser.source, depth == DamageDepth::Map, maxWrittenFileBytes(parser.volumeSizeBytes()));
    const ContentResult r = parser.readContent(id, sink);
    if (!r.readable) {
        out.reason = r.reason.empty() ? "no content to read" : r.reason;
        return out;
    }
    if (r.stopped && !sink.clipped()) {
        out.reason = "stopped";
        return out;
    }
    out.ranges = std::move(sink.ranges);
    // As the save: what was not delivered up to the record's size is
    // damage; a file cut at the output limit says so.
    if (!sink.clipped() && r.expectedSize > sink.size())
        appendDamage(out.ranges, sink.size(), r.expectedSize - sink.size(), std::nullopt, cause::kNoRuns);
    if (sink.clipped() && r.expectedSize > sink.size())
        out.ranges.push_back({sink.size(), r.expectedSize - sink.size(), std::nullopt, cause::kOutputLimit});
    out.state = out.ranges.empty() ? FileDamage::State::Sound : FileDamage::State::Damaged;
    out.reason = damageCauses(out.ranges);
    return out;
}

}  // namespace salvage
