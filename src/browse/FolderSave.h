#pragma once
// Saving the parsed volume to a host folder: a folder's whole subtree in the
// parser's chain order, or one file. The parser reads each file's content;
// the one host writer (OutputFolder) puts it on the host; this class decides
// where it goes, counts, reports progress and keeps one row per file for
// the save report.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browse/OutputFolder.h"
#include "browse/VolumeParser.h"
#include "platform/Poll.h"

namespace salvage {

// Nesting deeper than this is damage or a loop; it also bounds the
// recursion and keeps host paths within their limits. Files below it are
// reported as skipped, one row each.
inline constexpr int kMaxFolderDepth = 256;

// Files under a folder, recursively: directories are descended into (each
// once, at most kMaxFolderDepth deep) and not counted, everything else
// counts 1.
std::int64_t countFilesUnder(const VolumeParser& parser, RecordId folder);

struct SavedFile {
    std::u16string volumePath;          // "ROOT\dir\name"
    std::filesystem::path written;      // the host file (empty when none was made)
    RecordId record = 0;
    std::int64_t recordNumber = 0;
    bool deleted = false;
    bool ok = false;                    // status == Ok
    bool skipped = false;               // status == Skipped
    std::uint64_t bytes = 0;            // size of the host file
    std::string md5, sha256;            // of the host file's bytes
    RecordTimes times;
    SaveStatus status = SaveStatus::Failed;
    std::string reason;                 // why skipped or failed; how the name was changed
    std::u16string originalName;        // the name on the volume when the host name differs
    std::u16string stream;              // the stream's name, for a file's named data stream
    std::uint64_t expectedSize = 0;     // the size the record gives
    std::uint64_t badBytes = 0;         // bytes inside damaged ranges
    ContentOrigin origin = ContentOrigin::Allocated;
    std::vector<ByteRun> runs;          // where every saved byte came from, in file order
    std::vector<DamagedRange> damaged;
};

struct SaveCounts {
    std::size_t ok = 0, damaged = 0, failed = 0, skipped = 0;
    std::size_t saved() const { return ok + damaged; }
};
SaveCounts countStatuses(const std::vector<SavedFile>& saved);

// Reads one record's content into a new file of dir (named from
// volumeName, made safe and short enough) and fills the row: where it went,
// digests, runs, damaged ranges, status.
// maxFileBytes caps what the file may put on the host disk; 0 takes the
// output limit for the volume's size.
void saveRecordInto(VolumeParser& parser, RecordId id, OutputFolder& out, const OutputDir& dir,
                    const std::u16string& volumeName, SavedFile& row, std::uint64_t maxFileBytes = 0);

class FolderSave {
public:
    FolderSave(VolumeParser& parser, Reporter& reporter) : parser_(parser), reporter_(reporter) {}

    // Set by Stop; polled before each child.
    std::atomic<bool> saveStopRequested{false};
    // Pause holds the save before its next child until Resume.
    PauseGate* pauseGate = nullptr;
    // The most one saved file may put on the host disk; 0: the output limit
    // for the volume's size. Lowered where many small hostile volumes are
    // saved in a row (fuzzing), since holes are digested as zeros.
    std::uint64_t maxFileBytes = 0;
    // The size line beside the status line ("File size: N kb", then empty).
    std::function<void(const std::u16string&)> sizeLine;

    // Saves the folder's children into outDir (subfolders as host folders).
    // volumePath names the folder in the report ("ROOT\docs"). False when
    // outDir is empty ("select output folder") or the record is not a
    // valid directory (nothing happens).
    bool saveFolder(RecordId folder, const std::filesystem::path& outDir, const std::u16string& volumePath);
    // The same for a list of records standing as one folder's children: the
    // first tree level, for saving a whole volume.
    bool saveRecords(const std::vector<RecordId>& records, const std::filesystem::path& outDir,
                     const std::u16string& volumePath);
    // One file into outDir; an existing file of its name is replaced.
    bool saveSingle(RecordId file, const std::filesystem::path& outDir, const std::u16string& volumePath);

    // Names in outDir that saved files must not take (the report's files).
    void reserveName(const std::filesystem::path& outDir, const std::string& fileName);
    // The writer of this save's output folder (open after the first save
    // call succeeded): the reports go through it too.
    OutputFolder& output() { return out_; }

    const std::vector<SavedFile>& saved() const { return saved_; }
    std::int64_t fileCounter() const { return counter_; }
    std::size_t failures() const;
    SaveCounts counts() const { return countStatuses(saved_); }

private:
    bool begin(const std::filesystem::path& outDir);
    void run(const std::vector<RecordId>& records, const std::filesystem::path& outDir,
             const std::u16string& volumePath);
    void saveChildren(const std::vector<RecordId>& children, const OutputDir& dir, const std::u16string& volumePath,
                      int depth);
    void saveOneFile(RecordId id, const OutputDir& dir, const std::u16string& volumePath);
    // One row per file under folder (iteratively), each with the status.
    void skipSubtree(RecordId folder, const std::u16string& volumePath, SaveStatus status, const std::string& reason);
    SavedFile rowFor(RecordId id, const std::u16string& volumePath) const;
    std::vector<RecordId> childrenOf(RecordId id) const;

    VolumeParser& parser_;
    Reporter& reporter_;
    OutputFolder out_;
    std::filesystem::path outPath_;
    std::vector<std::pair<std::filesystem::path, std::string>> reserved_;
    std::set<RecordId> visited_;
    std::vector<SavedFile> saved_;
    std::int64_t counter_ = 0;
};

}  // namespace salvage
