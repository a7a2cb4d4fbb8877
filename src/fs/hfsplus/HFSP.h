#pragma once
// HFS+ volume parser. Reads the volume header, gathers the catalog B-tree's
// nodes (in order through the catalog file's extents, or by searching the
// volume for catalog leaves), reads the extents overflow B-tree, makes one
// entry per folder or file record and links them into child chains by
// parent ID. Only data forks are read.
#include <cstdint>
#include <iterator>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "browse/RecordTable.h"
#include "browse/VolumeParser.h"
#include "fs/hfsplus/HfspStructures.h"
#include "platform/LargeTables.h"

namespace salvage {

// One accepted B-tree node: where it is and where its records start.
struct BTreeNodeInfo {
    std::uint64_t nodeNumber = 0;
    // Byte offset of the node: within its B-tree file when the nodes were read
    // in order, within the volume when the catalog leaves were searched.
    std::uint64_t nodeOffset = 0;
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
    std::vector<std::uint16_t> recordOffsets;
};

// An extents overflow record of a data fork, with its eight extents.
struct OverflowRecord {
    std::uint16_t keyLength = 0;
    std::uint8_t forkType = 0;
    std::uint32_t startBlock = 0;
    std::uint32_t recordOffset = 0;
    std::uint64_t nodeOffset = 0;
    hfsp::Extent extents[8];
};

// Where a B-tree file's bytes lie: its extents in order; bytes past the
// listed extents continue right after the last one.
struct ForkMap {
    std::vector<hfsp::Extent> runs;
    std::uint64_t blockSize = 0;
    // Volume byte offset of the file byte at fileOffset, and how many bytes
    // from there on are contiguous (0 when no mapping exists).
    std::uint64_t volumeOffset(std::uint64_t fileOffset, std::uint64_t& contiguous) const;
};

// One folder or file record of the catalog. Its name lies in the parser's
// name arena, its catalog extents in the parser's extent column, its
// children in the parser's chains.
struct HfsEntry {
    std::uint64_t size = 0;
    NameRef name;
    std::uint32_t parentId = 0;
    std::uint32_t cnid = 0;  // the record's key (RecordId)
    std::uint32_t totalBlocks = 0;
    std::uint32_t firstExtent = 0;  // catalog extents with a nonzero start
    // Dates, ownership and mode, kept so listing needs no further reads.
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint32_t ownerId = 0, groupId = 0;
    std::uint16_t fileMode = 0;
    std::uint16_t kind = 0;  // 1 folder, 2 file
    std::uint8_t extentCount = 0;
};

class HFSP;

// The entries in catalog ID order, read only: each as (cnid, row) with the
// row's kind, parent ID and name.
class HfsEntriesByCnid {
public:
    struct Row {
        std::uint16_t kind = 0;
        std::uint32_t parentId = 0;
        std::u16string_view name;
    };
    using value_type = std::pair<std::uint32_t, Row>;

    class iterator {
    public:
        // Rows are made on the fly: dereferencing gives a value.
        struct Arrow {
            value_type row;
            const value_type* operator->() const { return &row; }
        };
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = HfsEntriesByCnid::value_type;
        using difference_type = std::ptrdiff_t;
        using reference = const value_type;
        using pointer = Arrow;

        iterator() = default;
        iterator(const HFSP* parser, std::size_t at) : parser_(parser), at_(at) {}
        reference operator*() const;
        pointer operator->() const { return {**this}; }
        iterator& operator++() {
            ++at_;
            return *this;
        }
        iterator operator++(int) {
            iterator was = *this;
            ++at_;
            return was;
        }
        iterator& operator--() {
            --at_;
            return *this;
        }
        iterator operator--(int) {
            iterator was = *this;
            --at_;
            return was;
        }
        bool operator==(const iterator& o) const { return at_ == o.at_; }

    private:
        const HFSP* parser_ = nullptr;
        std::size_t at_ = 0;
    };
    using reverse_iterator = std::reverse_iterator<iterator>;

    explicit HfsEntriesByCnid(const HFSP& parser) : parser_(parser) {}
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    std::size_t count(std::uint32_t cnid) const;
    iterator begin() const { return {&parser_, 0}; }
    iterator end() const { return {&parser_, size()}; }
    reverse_iterator rbegin() const { return reverse_iterator(end()); }
    reverse_iterator rend() const { return reverse_iterator(begin()); }

private:
    const HFSP& parser_;
};

class HFSP : public VolumeParser {
public:
    static constexpr std::uint16_t kFolder = hfsp::kFolderRecord;
    static constexpr std::uint16_t kFile = hfsp::kFileRecord;

    std::u16string parserName() const override { return u"HFSP"; }
    ParseResult parse(RecoveryMode mode) override;

    // The steps of a parse, in the order parse() runs them.
    void attachSource();
    bool readVolumeHeader();
    bool readCatalogNodes();
    bool scanCatalogLeaves();
    bool readExtentsOverflow();
    void collectEntries();
    void linkChildren();
    void fillRootEntries();

    // --- contract ---
    bool isValidRecord(RecordId id) const override;
    bool isDirectory(RecordId id) const override;
    bool isDeleted(RecordId) const override { return false; }
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
    ContentResult readContent(RecordId id, ContentSink& sink) override;
    // A double click's save tells the user where the file went.
    bool announcesSingleSave() const override { return true; }

    // The file's data fork extents: the catalog ones, then overflow records.
    std::vector<hfsp::Extent> fileExtents(const HfsEntry& entry) const;
    const HfsEntry* entry(RecordId id) const;

    hfsp::VolumeHeader header;
    std::uint64_t blockSize = 0;
    std::uint32_t catalogNodeSize = 0;
    std::uint64_t nodeBlocks = 0;
    std::uint32_t overflowNodeSize = 0;
    std::uint64_t overflowNodeBlocks = 0;
    ForkMap catalogFork, overflowFork;
    bool leafScanUsed = false;
    std::uint32_t orphanKey = 0;
    std::vector<BTreeNodeInfo> catalogNodes, overflowNodes;
    std::map<std::uint64_t, OverflowRecord> overflowMap;
    // The entries by catalog ID, as a map would give them.
    const HfsEntriesByCnid entryMap{*this};

private:
    friend class HfsEntriesByCnid;
    // Where a catalog ID's entry lies in the table.
    struct CnidPosition {
        std::uint32_t cnid = 0;
        RecordIndex position = 0;
    };
    // The table position of a catalog ID's entry, or kNoLink.
    RecordIndex positionOf(std::uint32_t cnid) const;
    // Reserves the entry table for the records the catalog leaves list.
    void reserveEntries();
    // Sorts the catalog IDs, keeping the first entry under each.
    void indexByCnid();

    bool readBytes(std::uint64_t volumeOffset, void* buffer, std::uint32_t count);
    bool readForkBytes(const ForkMap& fork, std::uint64_t fileOffset, std::vector<std::uint8_t>& out,
                       std::uint32_t count);
    // Volume bytes the image holds behind the volume's start (0 when unknown).
    std::uint64_t volumeBytesAvailable() const;
    std::uint64_t nodeCap(std::uint32_t nodeSize) const;
    bool readTreeNodes(const ForkMap& fork, std::uint32_t nodeSize, std::uint32_t totalNodes,
                       std::uint64_t progressStep, std::vector<BTreeNodeInfo>& out);
    void buildOverflowMap();
    void buildCatalogFork();
    void appendOverflowExtents(std::uint32_t fileId, std::uint32_t totalBlocks,
                               std::vector<hfsp::Extent>& extents) const;
    void linkStandard();
    void linkSearched();

    bool overflowRead_ = false;
    bool overflowOk_ = false;

    // The entries in the order their records were read, the catalog IDs in
    // ascending order with their entries' positions, the names, the
    // catalog extents of every file back to back, and the folder tree.
    std::vector<HfsEntry> entries_;
    std::vector<CnidPosition> byCnid_;
    NameArena<char16_t> names_;
    std::vector<hfsp::Extent> extents_;
    ChildChains chains_;
};

}  // namespace salvage
