#pragma once
// exFAT volumes ("FAT64" in the volume list): directories hold entry sets,
// files and folders may be stored as one run of clusters without a FAT chain.
// The record table, its "DUMMY ENTRY" root, linking and the first tree level
// follow the FAT16/FAT32 pattern; the record and the directory decoding are
// exFAT's own.
#include <memory>
#include <set>
#include <vector>

#include "browse/VolumeParser.h"
#include "fs/fat/ClusterData.h"
#include "fs/fat/ExFatDirectory.h"
#include "fs/fat/ExFatEntry.h"
#include "fs/fat/FatChain.h"
#include "platform/ByteView.h"
#include "platform/OffsetSet.h"

namespace salvage {

class Fat64Class : public VolumeParser {
public:
    std::u16string parserName() const override { return u"Fat64Class"; }
    bool announcesSingleSave() const override { return true; }
    ParseResult parse(RecoveryMode mode) override;
    void recycleBinPass() override;
    // Advanced mode: FAT and cluster-heap candidates, sectors-per-cluster shifts.
    std::int64_t findAdvancedCandidates(std::int64_t maxCandidates) override;
    AdvancedLists advancedLists() const override { return lists_; }
    const std::vector<std::int64_t>& heapCandidates() const { return heapCandidates_; }

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

    const fat::RecordTable<fat::ExFatEntry>& entries() const { return entries_; }

private:
    bool checkBootSector();
    ParseResult parseAdvanced();
    std::vector<std::int64_t> scanForEntries(std::int64_t& rootMark);
    void rebuildFromFoundEntries(const std::vector<std::int64_t>& found, std::int64_t threshold);
    void walkFoundDirectory(std::uint32_t own, int depth);
    // The entry set at off when it runs past its cluster's end: its bytes
    // continue in the next cluster of the chain, which need not be adjacent
    // (a folder's clusters lie apart once the volume was fragmented).
    std::vector<std::uint8_t> readSetAcrossClusters(std::int64_t off);
    // Whether a set starts at off that passes the entry-set test only when
    // read across its cluster border along the chain.
    bool isSplitSetHit(std::int64_t off, std::uint8_t type);
    // Appends r under parent; walks it when it is a folder the rebuild enters.
    void appendFound(fat::ExFatSet set, std::uint32_t parent, int depth);
    std::vector<std::uint8_t> readDirectory(std::uint32_t firstCluster, std::uint64_t dataLength, bool noFatChain);
    void walkDirectory(ByteView dir, std::uint32_t parent, int depth);
    void fillRootEntries();
    const fat::ExFatEntry* rec(RecordId id) const;

    fat::ClusterGeometry geo_;
    std::uint32_t rootCluster_ = 0;
    std::unique_ptr<fat::FatChain> chain_;
    fat::RecordTable<fat::ExFatEntry> entries_;
    std::set<std::uint32_t> visitedDirectories_;  // first clusters of folders read
    bool bootValid_ = false;
    std::uint8_t bootShift_ = 0;
    std::vector<std::int64_t> fatCandidates_, heapCandidates_;
    AdvancedLists lists_;
    OffsetSet processedOffsets_;
};

}  // namespace salvage
