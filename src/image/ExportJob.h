#pragma once
// Copies an image's media data, or a byte range of it, into a new raw image
// (plain files, split into segments when a segment size is given; "-" for
// standard output) or a new EWF image. Runs on the caller's thread: the
// front end starts it on a worker, watches the Reporter and sets
// `stopRequested` for Stop. A stopped export is finalised like a complete
// one: a closed, valid image of the bytes copied.
#include <cstdint>
#include <filesystem>
#include <string>

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
};

enum class ExportOutcome {
    Done,           // every requested byte copied
    Stopped,        // Stop: the output holds the bytes copied so far
    RangeRejected,  // offset/size do not fit the media; nothing copied
    ReadFailed,     // the copy ended early at a source read error
    WriteFailed,    // the copy ended early at an output write error
    Failed,         // the source or the output could not be opened or set up
};

struct ExportResult {
    ExportOutcome outcome = ExportOutcome::Failed;
    std::uint64_t bytesCopied = 0;
    std::string md5;                    // lower-case hex over the copied bytes; empty when nothing was opened
    bool segmentSizeReplaced = false;  // the given segment size was out of range and the default used
    std::string outputPath;            // first output file as written (libewf/libsmraw add their extensions)
};

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
    // Messages ("Unable to open output.\n", ..., and "done" at the end of
    // every run that got as far as the copy) go through the reporter with no
    // caption and no icon. A stop request is cleared when the job obeys it.
    ExportResult run();

    const ExportSettings& settings() const { return settings_; }

private:
    ExportSettings settings_;
    Reporter* reporter_;
};

}  // namespace salvage
