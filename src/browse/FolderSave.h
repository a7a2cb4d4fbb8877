#pragma once
// Saving the parsed volume to a host folder: a folder's whole subtree in the
// parser's chain order, or one file. The bytes and times of each file are
// written by the parser's one-file save; this class decides where they go,
// counts, reports progress and keeps what was written for the save report.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "browse/VolumeParser.h"
#include "platform/Poll.h"

namespace salvage {

// Nesting deeper than this is damage or a loop; it also bounds the
// recursion and keeps host paths within their limits.
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
    bool ok = false;
    bool skipped = false;               // counted but deliberately not written ($BadClus)
    std::uint64_t bytes = 0;            // size of the host file
    std::string md5, sha256;            // of the host file's bytes
    RecordTimes times;
};

class FolderSave {
public:
    FolderSave(VolumeParser& parser, Reporter& reporter) : parser_(parser), reporter_(reporter) {}

    // Set by Stop; polled before each child.
    std::atomic<bool> saveStopRequested{false};
    // Pause holds the save before its next child until Resume.
    PauseGate* pauseGate = nullptr;
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

    const std::vector<SavedFile>& saved() const { return saved_; }
    std::int64_t fileCounter() const { return counter_; }
    std::size_t failures() const;

private:
    bool begin(const std::filesystem::path& outDir);
    void run(const std::vector<RecordId>& records, const std::filesystem::path& outDir,
             const std::u16string& volumePath);
    void saveChildren(const std::vector<RecordId>& children, const std::filesystem::path& dir,
                      const std::u16string& volumePath, int depth);
    void saveOneFile(RecordId id, const std::filesystem::path& dir, const std::u16string& volumePath);
    std::filesystem::path folderFor(const std::filesystem::path& dir, const std::u16string& name);
    std::filesystem::path claimFileName(const std::filesystem::path& dir, const std::string& fileName);
    std::vector<RecordId> childrenOf(RecordId id) const;
    void finishEntry(SavedFile& s);

    VolumeParser& parser_;
    Reporter& reporter_;
    std::filesystem::path staging_;
    std::map<std::filesystem::path, std::set<std::string>> used_;
    std::set<RecordId> visited_;
    std::vector<SavedFile> saved_;
    std::int64_t counter_ = 0;
};

}  // namespace salvage
