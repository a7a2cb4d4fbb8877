#pragma once
// Copies an image's media data, or a byte range of it, into a new raw image
// (plain files, split into segments when a segment size is given; "-" for
// standard output) or a new EWF image. Runs on the caller's thread: the
// front end starts it on a worker, watches the Reporter and sets
// `stopRequested` for Stop. A stopped export is finalised like a complete
// one: a closed, valid image of the bytes copied, whose information says it
// is partial.
//
// The image is never written: an output that is any file of the input set
// (same device and inode, through links) is refused before anything is
// created or removed, and of an earlier set under the output's name only
// files this writer can tell it wrote are removed.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/EwfInfo.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"

namespace salvage {

enum class ExportFormat { Raw, Ewf };

struct ExportSettings {
    std::filesystem::path imagePath;  // first segment or wildcard pattern; a raw image works too
    EwfInfoRecord info;               // as read for the information page (media size, sectors per chunk, OS)
    std::string targetPath;           // output path as typed; "-" with raw output is standard output
    ExportFormat outputFormat = ExportFormat::Raw;
    std::uint64_t maximumSegmentSize = 0;  // bytes; 0 = unlimited
    std::int64_t exportOffset = 0;         // bytes into the media
    std::int64_t exportSize = 0;           // bytes; 0 or less = the whole media
    // An unreadable part of the source is written as zeros and recorded, and
    // the copy goes on; otherwise the copy ends there.
    bool continueOnError = false;
};

enum class ExportOutcome {
    Done,           // every requested byte copied (and matching the image's stored hash, when it has one)
    Stopped,        // Stop: the output holds the bytes copied so far
    RangeRejected,  // offset/size do not fit the media; nothing copied
    ReadFailed,     // the copy ended early at a source read error
    WriteFailed,    // the copy ended early at an output write error
    Failed,         // the source or the output could not be opened or set up
    Refused,        // the output would overwrite the input or a file this writer did not make; nothing written
    Damaged,        // every byte written, but unreadable ranges are zeros (continueOnError)
    HashMismatch,   // every byte copied, but the copy's hash differs from the one stored in the image
};

// A byte range of the media.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool operator==(const ByteRange&) const = default;
};

enum class HashCheck { NotMade, Verified, Mismatch };

struct ExportResult {
    ExportOutcome outcome = ExportOutcome::Failed;
    std::uint64_t bytesCopied = 0;
    std::uint64_t bytesRequested = 0;
    std::string md5;                    // lower-case hex over the copied bytes; empty when nothing was opened
    bool segmentSizeReplaced = false;  // the given segment size was out of range and the default used
    std::string outputPath;            // first output file as written (libewf/libsmraw add their extensions)
    std::vector<ByteRange> unreadable;  // source ranges written as zeros, in media offsets, merged
    std::uint64_t failedAt = 0;         // ReadFailed: the media offset that could not be read
    // Whole-media copies of an image with a stored MD5 or SHA-1: the check
    // of the copy against it.
    HashCheck hashCheck = HashCheck::NotMade;
    std::string hashName;    // "MD5" or "SHA1"
    std::string storedHash;  // as stored in the image, lower case
    std::string copyHash;    // the copy's, lower case
};

// The outcome in a few words, as the last message of a run says it: "done"
// only for a complete, undamaged copy.
std::u16string exportOutcomeText(const ExportResult& result);

// What an export reads. The job opens one over the settings' image path; a
// caller may hand in its own.
class ExportInput {
public:
    virtual ~ExportInput() = default;
    virtual std::uint64_t mediaBytes() const = 0;
    // The unit reads fall back to when a larger read fails.
    virtual std::uint32_t chunkBytes() const = 0;
    // Fills `bytes` bytes from media offset `offset`. False when the read
    // failed as a whole. True otherwise; then parts that could not be read
    // are zeros in the buffer and listed in `damaged` (media offsets).
    virtual bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t bytes,
                        std::vector<ByteRange>& damaged) = 0;
    // The hash stored in the image under "MD5" or "SHA1", lower-case hex;
    // empty when there is none.
    virtual std::string storedHash(const char* /*name*/) { return {}; }
    // The libewf handle of an EWF source (its header values go into EWF
    // output), or null.
    virtual void* ewfHandle() const { return nullptr; }
};

// Why the export may not write to `target` (a message naming the file), or
// empty when it may. `earlierSet` receives the files of an earlier export
// under the same name, which the export removes before it writes; the
// wizard asks before that.
std::u16string checkExportTarget(const ExportSettings& settings, std::uint64_t exportBytes,
                                 std::vector<std::string>& earlierSet);
// The files the image is read from: each segment of an EWF set, each piece
// of a split raw set, or the one file or device.
std::vector<std::string> imageInputFiles(const std::filesystem::path& image);

// Sectors per chunk written when the image gives none.
inline constexpr std::uint32_t kExportDefaultSectorsPerChunk = 64;
// Segment size used when the entered one is out of range.
inline constexpr std::uint64_t kExportDefaultSegmentBytes = 1572864000ull;
inline constexpr char kExportSoftware[] = "ewfexport";
inline constexpr char kExportSoftwareVersion[] = "20120813";

// The percentage line for a per-mille progress value: "%f %% extracted" of
// perMille / 1000 × 100 in single precision (452 gives "45.200001 % extracted").
std::u16string extractedText(std::int64_t perMille);

class ExportJob : public Pollable {
public:
    ExportJob(ExportSettings settings, Reporter& reporter);

    // Runs the whole export. Progress: range 0..1000 at the start, then the
    // per-mille position and extractedText() as status once per chunk.
    // Messages ("Unable to open output.\n", ..., and exportOutcomeText() at
    // the end of every run that got as far as the copy) go through the
    // reporter with no caption and no icon. A stop request is cleared when
    // the job obeys it. `input`, when given, is read instead of the image
    // path (the output checks still use the path).
    ExportResult run(ExportInput* input = nullptr);

    const ExportSettings& settings() const { return settings_; }

private:
    ExportSettings settings_;
    Reporter* reporter_;
};

}  // namespace salvage
