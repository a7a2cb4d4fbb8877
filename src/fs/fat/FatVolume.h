#pragma once
// What Fat16Class and Fat32Class share: the record table with the "DUMMY
// ENTRY" root, the directory walk with its duplicate-cluster map and "."
// rule, linking, the first tree level, the contract's per-record answers and
// the file save. Each subclass supplies its boot-sector check, geometry, FAT
// lookup and the few rules where the two differ.
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include "browse/VolumeParser.h"
#include "fs/fat/ClusterData.h"
#include "fs/fat/FatChain.h"
#include "fs/fat/FatEntry.h"
#include "fs/fat/FatNames.h"
#include "fs/fat/FatScan.h"
#include "platform/ByteView.h"
#include "platform/OffsetSet.h"

namespace salvage::fat {

// A directory holds at most 65,536 entries; no directory is read past that.
inline constexpr std::uint64_t kMaxDirectoryBytes = 65536ull * 32;
// Nesting deeper than this is taken as damage; it also bounds the recursion.
inline constexpr int kMaxDirectoryDepth = 512;
// Largest cluster accepted from a boot sector (FAT allows up to 256 KiB).
inline constexpr std::uint32_t kMaxClusterBytes = 256 * 1024;

// What the entry scan notes besides its hits: the FAT32 root's volume label
// or "RECYCLE" slot, and where cluster 2 lies by the first folder's "."
// entry it met (-1: none).
struct ScanMarks {
    std::int64_t rootMark = 0;
    std::int64_t dotHeap = -1;
};

// What the Advanced candidate ranking weighs (folders' "." entries and
// files of known size near the volume's start).
struct FitEvidence;

class FatVolume : public VolumeParser {
public:
    ParseResult parse(RecoveryMode mode) override;
    // Advanced mode: the FAT candidates and the sectors-per-cluster list.
    std::int64_t findAdvancedCandidates(std::int64_t maxCandidates) override;
    AdvancedLists advancedLists() const override { return lists_; }
    const std::vector<std::int64_t>& fatCandidates() const { return fatCandidates_; }

    bool isValidRecord(RecordId id) const override;
    bool isDirectory(RecordId id) const override;
    bool isDeleted(RecordId id) const override;
    std::u16string name(RecordId id) const override;
    bool hasChildren(RecordId id) const override;
    void forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const override;
    std::u16string creationTimeText(RecordId id) const override;
    std::u16string accessTimeText(RecordId id) const override;
    std::u16string modificationTimeText(RecordId id) const override;
    std::u16string sizeText(RecordId id) const override;
    std::u16string attributeText(RecordId id) const override;
    std::uint64_t sizeBytes(RecordId id) const override;
    RecordTimes times(RecordId id) const override;
    RecordMeta meta(RecordId id) const override;
    bool isRootRecord(RecordId id) const override { return id == 0; }
    ContentResult readContent(RecordId id, ContentSink& sink) override;

    const RecordTable<FatEntry>& entries() const { return entries_; }
    // A file's data in memory; empty when the file is larger than maxBytes.
    std::vector<std::uint8_t> readFileBytes(RecordId id, std::uint64_t maxBytes);
    void renameRecord(RecordId id, const std::u16string& newName);

protected:
    // Geometry the subclass sets in checkBootSector.
    std::uint32_t clusterBytes_ = 0;
    std::int64_t clusterHeap_ = 0;  // byte offset of cluster 2
    std::unique_ptr<FatChain> chain_;

    virtual std::u16string refusalText() const = 0;
    virtual std::u16string refusalCaption() const = 0;
    virtual std::u16string walkStatus() const = 0;
    // Reads the boot sector and sets the geometry and chain_; false refuses.
    virtual bool checkBootSector() = 0;
    // The root directory's bytes.
    virtual std::vector<std::uint8_t> readRootDirectory() = 0;
    virtual std::u16string fileName(ByteView entry) const = 0;
    // Whether a subdirectory's listing ends at its first entry with a 0 byte
    // (per cluster); the FAT16 walk reads on and finds entries behind it.
    virtual bool subdirEndsAtZero() const = 0;
    // Attribute bytes that count as folders for browsing, saving and search.
    virtual bool folderAttr(std::uint8_t a) const = 0;
    // Attribute bytes that get a folder node on the first tree level.
    virtual bool rootFolderNode(std::uint8_t a) const = 0;
    virtual bool dummyGetsNode() const = 0;

    // --- Advanced mode ---
    virtual FatKind fatKind() const = 0;
    // "FAT_ENTRY:%d" or "FAT32_ENTRY:%d".
    virtual const char* candidateFormat() const = 0;
    virtual bool entryHit(ByteView e, std::uint64_t clusterCount) const = 0;
    // Found folders follow this many further clusters of their chain; the
    // folders inside them nestedFurtherClusters().
    virtual std::uint64_t foundFurtherClusters() const = 0;
    virtual std::uint64_t nestedFurtherClusters() const = 0;
    // Sets the FAT lookup and the cluster geometry for the user's choice.
    virtual void loadFatAtCandidate(std::size_t index, std::uint32_t sectorsPerCluster) = 0;
    // After the entry scan: where cluster 2 starts, when the subclass can
    // tell better than the scan's first hit (0: it cannot).
    virtual std::int64_t advancedDataStart(const ScanMarks& marks) const = 0;
    std::int64_t volumeBytes() const;
    bool bootValid_ = false;
    std::uint8_t bootSectorsPerCluster_ = 0;
    std::vector<std::int64_t> fatCandidates_;

    ClusterGeometry geometry() const;
    // Whether a file starting at first is read from consecutive clusters.
    bool readsConsecutive(std::uint32_t first);
    // Reads one cluster into buf (cleared first, so a failed read gives zeros).
    void readCluster(std::uint32_t c, std::vector<std::uint8_t>& buf);
    std::int64_t clusterOffset(std::uint32_t c) const;

private:
    // Ranks fatCandidates_ and the sectors-per-cluster values by fit and
    // fills lists_.
    void rankAdvancedChoices(const FitEvidence& evidence);
    ParseResult parseAdvanced();
    std::vector<std::int64_t> scanForEntries(ScanMarks& marks);
    void rebuildFromFoundEntries(const std::vector<std::int64_t>& found, std::int64_t threshold);
    void walkFoundDirectory(std::uint32_t own, std::uint32_t firstCluster, std::uint64_t furtherClusters, int depth);
    // Appends the record of the short entry e (name from pending when set);
    // answers its index, or -1 when nothing was appended.
    std::int64_t appendFound(ByteView e, std::optional<LongName>& pending, std::uint32_t parent);
    // The name an entry is listed under: its long name, or its short name
    // (raw for folders); sets r.deleted from both.
    std::u16string entryName(ByteView e, const std::optional<LongName>& pending, FatEntry& r) const;
    void walkRoot(const std::vector<std::uint8_t>& root);
    void walkEntries(ByteView dir, std::uint32_t parent, bool isRoot, int depth);
    void walkSubdirectory(std::uint32_t own, std::uint32_t firstCluster, int depth);
    FatEntry entryFrom(ByteView e) const;
    void linkChildren();
    void fillRootEntries();
    const FatEntry* rec(RecordId id) const;

    RecordTable<FatEntry> entries_;
    std::set<std::uint32_t> visitedClusters_;
    AdvancedLists lists_;
    // Slot offsets the rebuild has taken.
    OffsetSet processedOffsets_;
};

}  // namespace salvage::fat
