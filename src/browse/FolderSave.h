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
#include <optional>
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
};

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
    SaveStatus status = SaveStatus::Failed;
    std::string reason;                 // why skipped or failed; how the name was changed
    std::u16string originalName;        // the name on the volume when the host name differs
    std::uint64_t expectedSize = 0;     // the size the record gives
    std::uint64_t badBytes = 0;         // bytes inside damaged ranges
    ContentOrigin origin = ContentOrigin::Allocated;
    std::vector<ByteRun> runs;          // where every saved byte came from, in file order
    std::vector<DamagedRange> damaged;
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
