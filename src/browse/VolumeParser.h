#pragma once
// What browsing, saving and searching ask of every file-system parser. Each
// parser (ntfs, Fat16Class, Fat32Class, Fat64Class, ext2Class, HFSP) keeps
// its own record table and answers these questions about a RecordId; the
// tree items carry the RecordId as their data. Browse, save and search are
// written once against this interface.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "browse/BrowseTree.h"
#include "browse/FileContent.h"
#include "image/SectorSource.h"
#include "platform/FileTimes.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"
#include "volumes/VolumeRecord.h"

namespace salvage {

enum class RecoveryMode : int { Standard = 1, Advanced = 2, Deep = 3 };

// The record's times for the save report (the host cannot set a creation
// time; the report records it).
struct RecordTimes {
    std::optional<UnixNanos> creation, access, modification;
};

// A record's times and ownership as a timeline lists them: the four times
// under their usual meanings (change: the last change of the record itself,
// such as an inode's ctime or an MFT record's change time), and the type and
// permission bits in st_mode form when the file system keeps them.
struct RecordMeta {
    std::optional<UnixNanos> access, modification, change, creation;
    std::optional<std::uint32_t> mode;
    std::uint32_t uid = 0, gid = 0;
};

// What one file save wrote.
struct SaveOutcome {
    bool ok = false;                // a file was written (whole, or whole but with damage)
    std::filesystem::path written;  // the host file created
    std::uint64_t bytes = 0;
    SaveStatus status = SaveStatus::Failed;
    std::uint64_t badBytes = 0;
    std::string reason;
};

// Advanced mode, step one: what the candidate search of the advanced-input
// page offers (item texts in the order the page lists them).
struct AdvancedLists {
    std::vector<std::u16string> candidates;         // "MFT_ENTRY:%d", "FAT_ENTRY:%d", ...
    std::vector<std::u16string> sectorsPerCluster;  // exFAT: its shifts
    std::vector<std::u16string> heapOffsets;        // exFAT only: "HEAP_OFFSET_ENTRY:%d"
    // How well each candidate and each sectors-per-cluster value fits what
    // the volume holds (higher is better; the lists are ranked by it), where
    // the parser measures it; empty otherwise.
    std::vector<std::int64_t> candidateFit, sectorsPerClusterFit;
};

// Advanced mode, step two: the user's choice, as indices into the lists
// (-1: no selection). The parse in Advanced mode reads it.
struct AdvancedChoice {
    int candidate = -1;
    int sectorsPerCluster = -1;
    int heapOffset = -1;
};

enum class ParseResult {
    Done,          // the tree is built; the finishing steps follow
    NotThisFormat, // the parser refused the volume and said so through the reporter
    Failed,        // the parse ended without a tree
};

class VolumeParser : public Pollable {
public:
    virtual ~VolumeParser() = default;

    // The class name ("ntfs", "Fat16Class", ...).
    virtual std::u16string parserName() const = 0;

    // Inputs the controller hands over before a parse.
    void attach(readWriteInterface* src, BrowseTree* t, Reporter* r, const VolumeRecord& v) {
        source = src;
        tree = t;
        reporter = r ? r : &nullReporter();
        volume = v;
    }

    // Runs the thread procedure of the mode: sets the source's baseOffset,
    // inserts "ROOT", reads the volume, builds the table and the first level.
    virtual ParseResult parse(RecoveryMode mode) = 0;
    // Advanced mode's candidate search (on the page's worker, before the
    // parse): fills what advancedLists() returns and answers the candidate
    // count. Parsers without an Advanced mode find nothing.
    virtual std::int64_t findAdvancedCandidates(std::int64_t maxCandidates) {
        (void)maxCandidates;
        return 0;
    }
    virtual AdvancedLists advancedLists() const { return {}; }
    // The Recycle Bin pass of the finishing steps; nothing for most parsers.
    virtual void recycleBinPass() {}

    // --- per record ---
    virtual bool isValidRecord(RecordId id) const = 0;
    virtual bool isDirectory(RecordId id) const = 0;
    virtual bool isDeleted(RecordId id) const = 0;
    virtual std::u16string name(RecordId id) const = 0;
    virtual bool hasChildren(RecordId id) const = 0;
    // Children in chain order; the visitor returns false to stop.
    virtual void forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const = 0;
    virtual std::u16string creationTimeText(RecordId id) const = 0;
    virtual std::u16string accessTimeText(RecordId id) const = 0;
    virtual std::u16string modificationTimeText(RecordId id) const = 0;
    virtual std::u16string sizeText(RecordId id) const = 0;
    virtual std::u16string attributeText(RecordId id) const = 0;
    virtual std::uint64_t sizeBytes(RecordId id) const = 0;
    virtual RecordTimes times(RecordId id) const = 0;
    // The timeline's view of the record. By default the saved times with no
    // change time and no mode; parsers whose records keep more say so.
    virtual RecordMeta meta(RecordId id) const {
        const RecordTimes t = times(id);
        RecordMeta m;
        m.access = t.access;
        m.modification = t.modification;
        m.creation = t.creation;
        return m;
    }
    // Whether the record stands for the volume's root rather than for an
    // entry of it (the FAT family's table root, which carries the first root
    // entry's fields and may be listed among the first level).
    virtual bool isRootRecord(RecordId id) const {
        (void)id;
        return false;
    }
    // The record's number on disk (MFT record, inode, catalog ID, entry index).
    virtual std::int64_t recordNumber(RecordId id) const { return id; }
    // For an entry that stands for a named data stream of a file (listed
    // beside the file as "file:stream", with the file's record number): the
    // stream's name. Empty for every other entry.
    virtual std::u16string streamName(RecordId id) const {
        (void)id;
        return {};
    }

    // Hands the record's content to the sink, piece by piece in file order,
    // each piece with its place on the image and whether its read
    // succeeded; ranges the parser knows to be missing come as missing
    // pieces. Writes nothing anywhere: a save, a preview and a verify all
    // read a file through this.
    virtual ContentResult readContent(RecordId id, ContentSink& sink) = 0;
    // Writes one file into folder under its (made safe) name, with its
    // times, through the one host writer.
    virtual SaveOutcome saveFile(RecordId id, const std::filesystem::path& folder);
    // Bytes of the volume, which bounds what one saved file may put on the host.
    virtual std::uint64_t volumeSizeBytes() const;

    // Search rules: whether folders are tested against the pattern too.
    virtual bool searchMatchesFolders() const { return false; }
    // Whether the single-file save announces the written path.
    virtual bool announcesSingleSave() const { return false; }

    readWriteInterface* source = nullptr;
    BrowseTree* tree = nullptr;
    Reporter* reporter = &nullReporter();
    VolumeRecord volume;
    TreeItem rootItem = kNoItem;
    AdvancedChoice advancedChoice;
    // The mode of the last parse (a file found by a Deep or Advanced scan
    // says so in the save report).
    RecoveryMode parsedMode = RecoveryMode::Standard;
};

}  // namespace salvage
