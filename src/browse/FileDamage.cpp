#include "browse/FileDamage.h"

#include "platform/OutputLimits.h"

namespace salvage {

void DamageSink::note(std::uint64_t fileOffset, std::uint64_t length, std::optional<std::uint64_t> imageOffset,
                      const char* why) {
    appendDamage(ranges, fileOffset, length, imageOffset, why ? why : cause::kReadFailed);
}

// Places each piece as the save's writer does (PieceLayout), so the ranges
// are the ones its report would list.
bool DamageSink::put(const ContentPiece& piece) {
    const PieceLayout::Step s = layout_.place(piece);
    if (s.gap) note(s.gapAt, s.gap, std::nullopt, cause::kNoRuns);
    if (s.length == 0) return !s.stop;
    if (s.damaged) {
        note(s.at, s.length, s.imageOffset, piece.cause);
    } else if (layoutOnly_ && source_ && s.imageOffset &&
               (piece.kind == ByteRun::Kind::Data || piece.kind == ByteRun::Kind::Compressed)) {
        const std::uint64_t at = *s.imageOffset;
        known_.clear();
        if (piece.kind == ByteRun::Kind::Compressed) {
            // A unit is read whole to be decoded: any bad byte of its stored
            // clusters spoils all of it.
            source_->knownDamage(at, piece.storedLength, known_);
            if (!known_.empty()) note(s.at, s.length, s.imageOffset, cause::kReadFailed);
        } else {
            source_->knownDamage(at, s.length, known_);
            for (const ImageRange& r : known_)
                note(s.at + (r.offset - at), r.length, r.offset,
                     r.kind == ImageRange::Kind::PastEnd ? cause::kPastImageEnd : cause::kReadFailed);
        }
    }
    return s.missing || !s.stop;
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
