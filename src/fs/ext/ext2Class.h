#pragma once
// The ext2/ext3/ext4 volume parser. Finds a valid superblock by a 512-byte
// step search (backup copies included), reads the group descriptors, makes
// one record per inode slot, names records from every directory's blocks,
// keeps the named ones and "ROOT" (key 2) in a table and links them in
// head-inserted child chains. Saves one file's blocks with its times.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "browse/RecordTable.h"
#include "browse/VolumeParser.h"
#include "fs/ext/ExtBlocks.h"
#include "fs/ext/ExtLayout.h"

namespace salvage {

// One inode slot's record. Its name (raw bytes from the directory entry)
// lies in the parser's name arena, its children in the parser's chains.
struct ExtEntry {
    std::uint64_t size = 0;
    std::uint64_t inodeTableBlock = 0;
    NameRef name;
    std::uint32_t index = 0;      // inode number - 1: the record's key (RecordId)
    std::int32_t parent = -1;     // key of the parent directory's record
    std::uint32_t slotInGroup = 0;
    // Taken from the inode when its table is read, so listing needs no
    // further reads: the three times, and the mode as stored (its
    // permission bits make the attribute text; `mode` may be set from the
    // directory entry's type).
    std::uint32_t changeTime = 0, accessTime = 0, modificationTime = 0;
    std::uint32_t changeNanos = 0, accessNanos = 0, modificationNanos = 0;
    std::uint16_t mode = 0;
    std::uint16_t inodeMode = 0;
    bool named = false;

    bool isFolder() const { return (mode & ext::kModeFolder) != 0; }
    bool isFile() const { return !isFolder() && (mode & ext::kModeFile) != 0; }
};

class ext2Class : public VolumeParser {
public:
    static constexpr std::uint32_t kRootKey = 2;

    std::u16string parserName() const override { return u"ext2Class"; }
    ParseResult parse(RecoveryMode mode) override;

    bool isValidRecord(RecordId id) const override { return find(id) != nullptr; }
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
    std::int64_t recordNumber(RecordId id) const override { return id + 1; }
    ContentResult readContent(RecordId id, ContentSink& sink) override;
    std::uint64_t volumeSizeBytes() const override { return volumeBytes; }
    // A double click's save tells the user where the file went.
    bool announcesSingleSave() const override { return true; }

    // Parse steps, in the order parse() runs them.
    bool attachSource();
    bool locateSuperblock();
    bool readGroupDescriptors();
    void readInodeTables();
    void readDirectories();
    void buildTable();
    void linkChildren();
    void fillRootEntries();

    std::u16string formatSize(const ExtEntry& entry) const;

    const ExtEntry* find(RecordId id) const;
    ext::Geometry geometry;
    std::uint64_t volumeBytes = 0;
    std::uint64_t superblockOffset = 0;

private:
    bool takeStop();
    bool readBytes(std::uint64_t offset, std::vector<std::uint8_t>& buf, std::size_t count) const;
    // The record's inode, read and decoded; none when it cannot be read.
    std::optional<ext::InodeFields> inodeFields(RecordId id) const;
    bool readInode(std::uint64_t tableBlock, std::uint32_t slot, std::vector<std::uint8_t>& inode) const;
    ext::BlockReader blockReader() const;
    ext::CollectLimits limitsFor(std::uint64_t size) const;

    // The table position of a key, or kNoLink (always before buildTable).
    RecordIndex positionOf(std::uint32_t key) const;

    std::vector<std::uint8_t> descriptors_;
    // Every inode slot of the readable groups in inode order while parsing;
    // from buildTable on, only the named records and ROOT, in key order.
    std::vector<ExtEntry> records_;
    bool keyed_ = false;  // records_ is the table in key order
    NameArena<char> names_;
    ChildChains chains_;
    std::vector<ext::BlockRun> blockList_;
};

}  // namespace salvage
