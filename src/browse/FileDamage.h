#pragma once
// Whether a file touches damage, asked before anything is saved: the
// listings of both front ends mark such files. The answer names the ranges
// and causes as the save report would.
//
// Two depths. Map: the file's layout from the content read without reading
// its data, each run on the image checked against the damage the image
// reader already knows (chunks or sectors whose reads failed so far, bytes
// past the image's end), plus every range the parser knows to be missing
// (chain ended or looped, outside the volume, runs end before the size,
// record unreadable). It costs the parser's metadata lookups only, so a
// listing can ask it for every row; damage in parts of the image nothing
// has read yet, and compression units that do not decode, stay unseen.
// Full: the content read as a save does it, into a sink that keeps nothing
// but the damage, so every checksum failure in the file is found.
#include <cstdint>
#include <string>
#include <vector>

#include "browse/FileContent.h"
#include "browse/VolumeParser.h"

namespace salvage {

enum class DamageDepth { Map, Full };

struct FileDamage {
    enum class State { Sound, Damaged, Unknown };
    State state = State::Unknown;
    std::vector<DamagedRange> ranges;  // Damaged: in file order, as the save report lists them
    std::string reason;                // Damaged: the causes; Unknown: why there is no answer

    bool damaged() const { return state == State::Damaged; }
};

// Unknown for records without content (folders, invalid records) and for a
// read that was stopped.
FileDamage damageOf(VolumeParser& parser, RecordId id, DamageDepth depth);

// The sink behind damageOf: takes a content read and keeps the damage as a
// save's writer would record it, up to the size a save would write
// (`limit`). With `layoutOnly` it asks for no bytes and checks each run of
// the image against the source's known damage.
class DamageSink final : public ContentSink {
public:
    DamageSink(const readWriteInterface* source, bool layoutOnly, std::uint64_t limit)
        : source_(source), layoutOnly_(layoutOnly), layout_(limit) {}

    bool put(const ContentPiece& piece) override;
    bool wantsBytes() const override { return !layoutOnly_; }

    std::uint64_t size() const { return layout_.size(); }
    bool clipped() const { return layout_.clipped(); }
    std::vector<DamagedRange> ranges;

private:
    void note(std::uint64_t fileOffset, std::uint64_t length, std::optional<std::uint64_t> imageOffset,
              const char* why);

    const readWriteInterface* source_;
    bool layoutOnly_;
    PieceLayout layout_;
    std::vector<ImageRange> known_;  // reused for every piece
};

}  // namespace salvage
