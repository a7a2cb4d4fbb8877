#pragma once
// The carving engine: recognises start and end signatures at the first byte
// of every 512-byte sector of a volume, decides where each carved file
// begins and how long it is, and lists each find in a browse tree under its
// category. It writes no files; CarveWriter does.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "browse/BrowseTree.h"
#include "carve/SignatureRecord.h"
#include "image/SectorSource.h"
#include "platform/ByteView.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"

namespace salvage {

struct SignatureType {
    std::u16string extension;
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;  // 0 = no end signature
    std::array<std::uint8_t, kSignatureBytes> startSignature{};
    std::array<std::uint8_t, kSignatureBytes> endSignature{};
    std::uint32_t typeIndex = 0;
    std::int32_t sizeOffset = -1;  // -1 = no size field
    std::uint32_t sizeByteCount = 0;
    std::uint32_t headerSize = 0;
    std::uint8_t sizeIncludesHeader = 0;
    std::int64_t approxSize = 0;
    std::int64_t skipSize = 0;
    std::u16string category;
    TreeItem categoryItem = kNoItem;
};

struct MatchEntry {
    std::uint8_t length = 0;
    std::uint32_t typeIndex = 0;
    std::array<std::uint8_t, kSignatureBytes> pattern{};
};

// What a signature match at a place is: a type's start, its end, or none.
enum class MatchKind : std::uint8_t { None, Start, End };

struct MatchResult {
    MatchKind kind = MatchKind::None;
    std::uint32_t typeIndex = 0;
};

struct FoundFile {
    std::uint64_t start = 0;   // volume-relative byte offset
    std::int64_t length = 0;   // bytes, as the engine decided them
    std::uint32_t typeIndex = 0;
};

class myJpg : public Pollable {
public:
    static constexpr std::int64_t kStep = 512;
    static constexpr std::int64_t kChunkBytes = 1 << 20;
    static constexpr std::uint8_t kWildcard = 0x2A;

    // Appends one type built from a settings record; its position in
    // signatureTypes is typeIndex.
    void addSignatureType(const SignatureRecord& record, std::uint32_t typeIndex);

    // Inputs set before a scan.
    readWriteInterface* source = nullptr;
    std::int64_t volumeBytes = 0;
    Reporter* pageWindow = &nullReporter();  // null: progress and messages go nowhere
    BrowseTree* tree = nullptr;  // may stay null: finds then go to foundFiles only

    // Runs the whole scan on the calling thread. False when its buffers
    // cannot be had; true otherwise, also after a stop.
    bool scanVolume();

    bool buildMatchTable();
    // The tree text of a find of type `t` at volume offset `start`.
    static std::u16string findText(const SignatureType& t, std::uint64_t start);
    MatchResult matchAt(ByteView tenBytes) const;

    std::vector<SignatureType> signatureTypes;
    std::vector<std::vector<std::uint64_t>> pendingStarts;  // by typeIndex, oldest first
    std::vector<MatchEntry> matchTable;
    // By a position's first byte, the entries that can match there (their
    // first byte, or a wildcard), in table order: most sectors are passed
    // over with one lookup, and a run of zero sectors is compared only with
    // the signatures that start with a zero.
    std::array<std::vector<std::uint32_t>, 256> entriesByFirstByte;
    std::uint32_t typeCount = 0;
    std::vector<FoundFile> foundFiles;
    std::map<std::u16string, std::uint64_t> categoryCounts;
    std::map<std::u16string, TreeItem> categoryItems;

private:
    void setUpTree();
    // Acts on a match at volume offset h and returns the next offset to
    // examine. chunkEnd bounds the skip rule.
    std::int64_t act(MatchResult m, std::int64_t h, std::int64_t chunkEnd);
    std::int64_t skipFrom(const SignatureType& t, std::int64_t h, std::int64_t chunkEnd) const;
    std::int64_t sizeFieldRule(const SignatureType& t, std::int64_t h);
    void finalPass();
    void report(const SignatureType& t, std::uint64_t start, std::int64_t length);
};

}  // namespace salvage
