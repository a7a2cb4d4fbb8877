#pragma once
// A file's content as a parser reads it: pieces in file order, each with the
// place it came from on the image and whether the read behind it succeeded,
// plus the ranges the parser knows to be missing. The writer that saves a
// file, a preview and a verify pass all consume the same stream.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/SectorSource.h"

namespace salvage {

// What became of one file of a save. Ok: every byte came from a good read
// and was written. Damaged: written whole, but some ranges are zeros or
// unknown (their reads failed, they lay outside the volume or image, the
// chain ended early or looped, a compression unit did not decode). Failed:
// it could not be written. Skipped: deliberately not written, with a reason.
enum class SaveStatus { Ok, Damaged, Failed, Skipped };

// How the content of a saved file was found; a deleted file's content may
// be a guess, and the report says which rows are.
enum class ContentOrigin {
    Allocated,                 // the live record's chain, runs or extents
    DeletedChainIntact,        // a deleted record whose chain or runs survived
    DeletedAssumedContiguous,  // a deleted record: content assumed to follow its first cluster
    Scan,                      // found by a Deep or Advanced scan
};

// One stretch of a saved file and where its bytes lie on the image.
struct ByteRun {
    enum class Kind { Data, Sparse, Compressed, Resident };
    std::uint64_t fileOffset = 0;
    std::uint64_t length = 0;                  // bytes of the saved file
    std::optional<std::uint64_t> imageOffset;  // byte offset in the image; none for sparse runs
    std::uint64_t storedLength = 0;            // Compressed: bytes on the image behind `length`
    Kind kind = Kind::Data;
};

// A stretch of a saved file that holds zeros or unknown bytes.
struct DamagedRange {
    std::uint64_t fileOffset = 0;
    std::uint64_t length = 0;
    std::optional<std::uint64_t> imageOffset;  // where it should have come from, when known
    std::string cause;                         // "read failed", "chain ended early", ...
    bool operator==(const DamagedRange&) const = default;
};

// Adds a damaged stretch to a file's list in file order, joined to the last
// one when it continues it (adjacent in the file, the same cause, adjacent
// on the image or placeless both), as the save report lists them.
void appendDamage(std::vector<DamagedRange>& list, std::uint64_t fileOffset, std::uint64_t length,
                  std::optional<std::uint64_t> imageOffset, const std::string& why);

// The distinct causes of the ranges, in order: "read failed, chain loops".
std::string damageCauses(const std::vector<DamagedRange>& ranges);

// Causes of missing content, as the reports name them.
namespace cause {
inline constexpr char kReadFailed[] = "read failed";
inline constexpr char kPastImageEnd[] = "past the image's end";
inline constexpr char kOutsideVolume[] = "outside the volume";
inline constexpr char kChainEnded[] = "chain ended before the size";
inline constexpr char kChainLoop[] = "chain loops";
inline constexpr char kNoRuns[] = "runs end before the size";
inline constexpr char kUndecodable[] = "compression unit did not decode";
inline constexpr char kNoRecord[] = "record unreadable";
inline constexpr char kOutputLimit[] = "clipped at the output limit";
inline constexpr char kStopped[] = "stopped";
}  // namespace cause

// One piece of content. data == nullptr stands for zeros (a sparse run, or
// bytes that could not be had). A piece with readOk false, or with a cause,
// is damage.
struct ContentPiece {
    std::uint64_t fileOffset = 0;
    const std::uint8_t* data = nullptr;
    std::uint64_t length = 0;
    bool readOk = true;
    std::optional<std::uint64_t> imageOffset;  // absolute byte offset on the image
    ByteRun::Kind kind = ByteRun::Kind::Data;
    std::uint64_t storedLength = 0;            // Compressed: bytes on the image behind it
    const char* cause = nullptr;               // why the piece is missing (nullptr: read failed if !readOk)
};

class ContentSink {
public:
    virtual ~ContentSink() = default;
    // Takes one piece, in file order. False ends the read (the output
    // failed or wants no more).
    virtual bool put(const ContentPiece& piece) = 0;
    // False: the sink wants the file's layout only. The content read then
    // reads no file data: pieces of the volume come with data == nullptr,
    // readOk true and their image offsets, and every range the parser knows
    // to be missing still comes with its cause.
    virtual bool wantsBytes() const { return true; }
};

// Where each piece of a content read lands in a file built in file order
// under a size limit. The save's writer and the damage check both follow
// it, so the damage check's ranges are the ones a save reports.
class PieceLayout {
public:
    explicit PieceLayout(std::uint64_t limit) : limit_(limit) {}

    struct Step {
        std::uint64_t gapAt = 0, gap = 0;           // undelivered bytes before the piece
        std::uint64_t at = 0;                       // file offset of the first byte placed
        std::uint64_t skip = 0;                     // leading bytes of the piece placed before
        std::uint64_t length = 0;                   // bytes placed (0: none)
        std::optional<std::uint64_t> imageOffset;   // of the first byte placed
        bool missing = false;  // the piece has no bytes: the stretch is damage, not content
        bool damaged = false;  // the bytes placed come from a failed read or carry a cause
        bool stop = false;     // the limit is reached: the sink takes no more
    };
    Step place(const ContentPiece& piece);

    std::uint64_t size() const { return size_; }
    bool clipped() const { return clipped_; }
    // The file ends at n (content missing at its end is not written).
    void endAt(std::uint64_t n) { size_ = n; }

private:
    std::uint64_t limit_;
    std::uint64_t size_ = 0;
    bool clipped_ = false;
};

// What a content read found out about the record.
struct ContentResult {
    bool readable = false;           // false: no content (not a file, or its record is unreadable)
    std::uint64_t expectedSize = 0;  // the size the record gives
    ContentOrigin origin = ContentOrigin::Allocated;
    bool stopped = false;            // the sink refused a piece or a stop request ended the read
    std::string reason;              // why it is not readable
};

// Hands a file's content to a sink in file order and keeps its place: reads
// from the volume (image offsets include the volume's start), sparse zeros,
// bytes the parser produced itself, and ranges known to be missing. Nothing
// is delivered past `size`; what is still short of it at finish() is
// reported missing with the given cause. For a sink that wants the layout
// only, nothing is read: read() delivers each run as one piece without data
// and readInto() gives zeros (true when the bytes lie inside the image).
class ContentStream {
public:
    ContentStream(ContentSink& sink, readWriteInterface* source, std::uint64_t size);

    std::uint64_t offset() const { return offset_; }
    std::uint64_t remaining() const { return size_ - offset_; }
    // The size is reached or the sink refused a piece.
    bool done() const { return refused_ || offset_ >= size_; }
    bool refused() const { return refused_; }

    // Reads `length` bytes at byte `volumeOffset` of the volume. A failed
    // read is retried sector by sector so only the sectors that fail are
    // marked; bytes past the image's end are missing.
    bool read(std::int64_t volumeOffset, std::uint64_t length, ByteRun::Kind kind = ByteRun::Kind::Data);
    // Reads into buf (zeros where the read fails) without delivering; the
    // answer says whether every byte came from a good read.
    bool readInto(std::int64_t volumeOffset, std::uint8_t* buf, std::uint64_t length);
    // Bytes the parser has in hand (resident data, decompressed units).
    bool bytes(const std::uint8_t* data, std::uint64_t length, bool readOk, std::optional<std::int64_t> volumeOffset,
               ByteRun::Kind kind, std::uint64_t storedLength = 0);
    // A sparse run: zeros that are the file's true content.
    bool sparse(std::uint64_t length);
    // Bytes the parser knows are missing; zeros stand for them.
    bool missing(std::uint64_t length, const char* why, std::optional<std::int64_t> volumeOffset = std::nullopt);
    // Reports the rest up to the size as missing, when any.
    void finish(const char* why);

    // The image offset of a volume offset.
    std::optional<std::uint64_t> imageOffset(std::int64_t volumeOffset) const;

private:
    bool deliver(ContentPiece p);
    std::uint64_t imageBytes() const;

    ContentSink& sink_;
    readWriteInterface* source_;
    std::uint64_t size_;
    std::uint64_t offset_ = 0;
    bool refused_ = false;
    bool layoutOnly_ = false;
    std::vector<std::uint8_t> buf_;
};

// A sink that keeps the bytes in memory (previews, small reads such as the
// Recycle Bin's index files), up to a bound, and notes whether any piece was
// damage.
class MemorySink : public ContentSink {
public:
    explicit MemorySink(std::uint64_t maxBytes = UINT64_MAX) : maxBytes_(maxBytes) {}
    bool put(const ContentPiece& piece) override;
    std::vector<std::uint8_t> bytes;
    bool damaged = false;
    bool overflow = false;  // the content was longer than maxBytes

private:
    std::uint64_t maxBytes_;
};

}  // namespace salvage
