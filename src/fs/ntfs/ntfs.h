#pragma once
// The NTFS volume parser. Standard mode reads the boot sector, finds the MFT
// (from the boot sector, or by scanning for the $MFT record when the boot
// sector is not NTFS or its MFT record is unusable), makes one entry per MFT
// record slot, links entries under their parents and places the rest under
// "ORPHAN_ENTRY". Advanced mode walks the MFT from a candidate found by a
// scan, with the cluster size the user picked; Deep mode scans every record
// and groups them under "ORPHAN_ENTRY" by the directories found.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

#include "browse/VolumeParser.h"
#include "fs/ntfs/NtfsEntry.h"
#include "fs/ntfs/NtfsRuns.h"
#include "fs/ntfs/NtfsStructures.h"
#include "platform/LargeTables.h"

namespace salvage {

// A file's $DATA stream (the unnamed one, or a named one) as the records
// describe it.
struct FileData {
    bool present = false;
    bool resident = false;
    std::vector<std::uint8_t> residentBytes;
    // Where the resident value lies in the volume, when the image holds it
    // as saved: a value that covers a sector's last two bytes differs there
    // on disk (the fix-up), so none is claimed for it.
    std::optional<std::int64_t> residentOffset;
    std::vector<ClusterRun> runs;  // every extent, in VCN order
    std::int64_t realSize = 0;
    std::uint16_t compressionUnit = 0;
    bool compressed = false;
    bool encrypted = false;
};

// Adds a named stream to a record's list: unnamed, repeated names and any
// beyond ntfs::kMaxStreamsPerFile are left out.
void addStream(std::vector<NamedStream>& streams, NamedStream stream);

class ntfs : public VolumeParser {
public:
    // Entries beyond this many directories after the first go into the
    // last directory's group in Deep mode.
    static constexpr std::int64_t kDeepDirectoryLimit = 100000;
    // Named streams listed per file. A record holds a few dozen attributes
    // at most, but an attribute list can point at any number of extension
    // records; real files carry a handful of streams, so more than this is
    // damage or a trap, and each would cost a table entry and a listed row.
    static constexpr std::size_t kMaxStreamsPerFile = 256;

    std::u16string parserName() const override { return u"ntfs"; }
    ParseResult parse(RecoveryMode mode) override;
    std::int64_t findAdvancedCandidates(std::int64_t maxCandidates) override;
    AdvancedLists advancedLists() const override;
    void recycleBinPass() override { renameRecycleBinFiles(); }

    bool isValidRecord(RecordId id) const override;
    bool isDirectory(RecordId id) const override;
    bool isDeleted(RecordId id) const override;
    // A stream entry is named "file:stream".
    std::u16string name(RecordId id) const override;
    std::u16string streamName(RecordId id) const override;
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
    // The MFT record number: the entry index in the MFT walk, the number
    // the record's header stores in a table built by a scan.
    std::int64_t recordNumber(RecordId id) const override;
    ContentResult readContent(RecordId id, ContentSink& sink) override;
    SaveOutcome saveFile(RecordId id, const std::filesystem::path& folder) override;
    std::uint64_t volumeSizeBytes() const override { return std::uint64_t(withinImage(std::max<std::int64_t>(volumeSize, 0))); }
    bool searchMatchesFolders() const override { return true; }

    // --- boot sector and MFT ---
    bool readBootSector();
    bool locateMft();
    void collectMftRecords();
    // --- scans ---
    std::int64_t scanForMftCandidates(std::int64_t limit);
    bool useCandidate(std::int64_t index);
    void scanAllRecords();
    // --- tree ---
    void parseAllEntries();
    void renameRecycleBinFiles();
    // --- data ---
    // The entry's content: a file's unnamed stream, or for a stream entry
    // its named stream, from the same records and by the same read.
    FileData describeFile(RecordId id) const;
    // Hands the file's data stream to out: plain, sparse or LZNT1
    // compressed runs, each piece with its place on the image; runs outside
    // the volume and units that do not decode come out missing.
    void streamData(const FileData& data, ContentStream& out) const;
    std::int64_t displayedSize(RecordId id) const;

    const LargeTable<NtfsEntry>& entries() const { return entries_; }
    const std::vector<NtfsEntry>& candidates() const { return candidates_; }
    // kNoLink (as a RecordId) before a parse, and for a table without a root.
    std::int64_t orphanIndex() const { return orphanIndex_; }
    std::int64_t rootIndex() const { return rootIndex_; }
    bool mftLocated() const { return mftLocated_; }

    RecoveryMode mode = RecoveryMode::Standard;
    ntfs_disk::BootSector boot;
    std::int64_t volumeSize = 0;
    std::int64_t bytesPerCluster = 4096;
    std::int64_t mftOffset = 0;
    std::vector<ClusterRun> mftRuns;

private:
    bool attachSource();
    // The part of [0, end) the image can hold: a damaged size field never
    // sends a scan or an allocation past the image's end.
    std::int64_t withinImage(std::int64_t end) const;
    bool readRecord(std::int64_t offset, ntfs_disk::Record& out) const;
    // What a record holds besides its fixed fields, kept by the decoder
    // for the table (buffers reused from record to record).
    struct DecodedText {
        std::u16string name;
        std::vector<NamedStream> streams;
    };
    // Fills an entry from a record's bytes (fixed up here); its name and
    // streams go to text.
    void decodeEntry(NtfsEntry& e, ByteView raw, DecodedText& text) const;
    // Decodes a record into e and scratch_.
    void decodeInto(NtfsEntry& e, ByteView raw, std::int64_t offset);
    // Appends e to the table, with scratch_'s name and streams.
    void keepEntry(NtfsEntry e);
    // Empties the table, its names, chains and streams.
    void clearTable();
    std::u16string_view nameOf(const NtfsEntry& e) const { return names_.view(e.name); }
    // The file entry a stream entry stands for; kNoLink for any other id.
    RecordIndex streamOf(RecordId id) const;
    // The table index of the first named file record with this record
    // number (tables made by a scan); kNoLink if none.
    RecordIndex indexOfNumber(std::uint32_t number) const;
    // Sorts the scan's record-number index and that of the table.
    void indexRecordNumbers();
    std::vector<ClusterRun> dataRunsOfRecordAt(std::int64_t offset) const;
    bool locateByScan();
    // Tests every position from 0 to end (clipped to the image) for a
    // record header, through the image's chunked scan, calling visit with
    // each header's offset and its 1024 bytes; visit returns false to stop.
    // A header advances the walk 1024 bytes, anything else 512.
    void scanRecords(std::int64_t end, bool reportProgress,
                     const std::function<bool(std::int64_t, ByteView)>& visit);
    // Volume offset of the record with this MFT record number; -1 if unknown.
    std::int64_t recordOffsetOf(std::uint64_t number) const;
    // Offset of the first record the scan found with this number; -1 if none.
    std::int64_t scannedOffsetOf(std::uint32_t number) const;
    void resolveExtensionRecords();
    void linkEntries();
    void breakParentLoops();
    void adoptOrphans();
    void groupDeep();
    void buildFirstLevel();
    // Gathers the streams of extension records into their base records and
    // makes one entry per named stream of every listed record, placed right
    // after the record's entry in its folder's chain.
    void addStreamEntries();
    // Links the table into chains: children by parent in table order, the
    // orphans (the last adopted first), stream entries after their files.
    void linkChains();
    const NtfsEntry* rec(RecordId id) const;
    // The record a file's $STANDARD_INFORMATION and data live in.
    std::int64_t dataRecordOffset(const NtfsEntry& e) const;
    // The extents of the $DATA stream `stream` (empty: the unnamed one) an
    // attribute list names, in VCN order; offsetOf gives a record number's
    // volume offset (-1 if unknown).
    bool collectExtents(ByteView base, std::uint64_t baseNumber, const ntfs_disk::AttrHeader& list,
                        const std::function<std::int64_t(std::uint64_t)>& offsetOf, std::u16string_view stream,
                        FileData& out) const;
    // A fragmented MFT keeps later extents of its own $DATA in further
    // records named by its attribute list: adds their runs to mftRuns.
    void extendMftRuns();

    // A named stream of a record, as decoded: rows lie in the table order
    // of their owners.
    struct StreamRow {
        RecordIndex owner = kNoLink;
        NameRef name;
        std::int64_t size = 0;
    };
    struct NumberedOffset {
        std::uint32_t number;
        std::int64_t offset;
    };
    struct NumberedIndex {
        std::uint32_t number;
        RecordIndex index;
    };

    LargeTable<NtfsEntry> entries_;
    NameArena<char16_t> names_;
    ChildChains chains_;
    std::vector<StreamRow> streams_;
    // Stream entries follow the orphan entry: entries_[firstStream_ + k]
    // stands for a named stream of entries_[streamOf_[k]].
    std::vector<RecordIndex> streamOf_;
    RecordIndex firstStream_ = kNoLink;
    DecodedText scratch_;
    std::vector<NtfsEntry> candidates_;
    // Record number -> offset of every record the scans found, for the
    // attribute lists and base references of scanned records: kept in scan
    // order while scanning, then sorted by number (the first found of a
    // number counts).
    LargeTable<NumberedOffset> scannedRecords_;
    // Record number -> table index of the named file records of a table
    // made by a scan, sorted the same way.
    LargeTable<NumberedIndex> byNumber_;
    bool mftLocated_ = false;
    bool needMftRuns_ = true;
    bool bootRead_ = false;
    RecordIndex orphanIndex_ = kNoLink;
    RecordIndex rootIndex_ = kNoLink;
};

}  // namespace salvage
