#pragma once
// Where an export writes: an EWF image through libewf, a raw image through
// libsmraw (split into segments when a segment size is given), or standard
// output. Internal to the export job.
#include <libewf.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/EwfInfo.h"

namespace salvage {

class ExportOutput {
public:
    virtual ~ExportOutput() = default;
    // Writes all of `bytes`; false on a write error.
    virtual bool write(const std::uint8_t* data, std::size_t bytes) = 0;
    // Stores the MD5 (32 lower-case hex digits) of the copied bytes.
    virtual bool setMd5(const std::string& hex) = 0;
    // Records, before close, that the output is not a complete, undamaged
    // copy: one line per fact. Raw output keeps it in its information file,
    // EWF output in a note file beside its first segment (its header
    // sections are written before the copy's end is known).
    virtual bool setStatusNote(const std::vector<std::string>& lines) = 0;
    // Finalises and closes; false when that fails.
    virtual bool close() = 0;
    // The first file written.
    virtual std::string firstFile() const = 0;
};

struct EwfOutputValues {
    libewf_handle_t* source = nullptr;  // header and media values are copied from it when set
    std::u16string operatingSystem;     // "acquiry_operating_system", when not empty
    std::uint32_t sectorsPerChunk = 64;
    std::uint64_t segmentBytes = 0;
    std::uint8_t guid[16] = {};
};

// The output names as libewf and libsmraw extend them: "disk.E01" and
// "disk" both give disk.E01, disk.E02, ...; "disk.raw" and "disk" both give
// disk.raw (disk.raw.000, ... when split).
std::string ewfOutputBase(const std::string& target);
std::string rawOutputBase(const std::string& target);

// The name of segment `number` (1, 2, ...) of an EWF output set: base.E01
// to base.E99, then base.EAA to base.ZZZ.
std::string ewfSegmentName(const std::string& base, std::size_t number);
// The file beside an EWF output's first segment that says the copy is
// partial or damaged; raw output keeps the same in its information file,
// base.raw.info.
std::string ewfNoteName(const std::string& base);
std::string rawInfoName(const std::string& base);
// The first line of an EWF note file.
inline constexpr char kEwfNoteHeading[] = "# salvage export status";

// Opens the output; null when it cannot be opened. Nothing is removed: the
// caller clears an earlier set first (checkExportTarget). `valuesSet` tells whether
// every output value could be set (the export goes on regardless).
std::unique_ptr<ExportOutput> openEwfOutput(const std::string& target, const EwfOutputValues& values, bool& valuesSet);
std::unique_ptr<ExportOutput> openRawOutput(const std::string& target, std::uint64_t mediaBytes,
                                            std::uint64_t segmentBytes, bool& valuesSet);
std::unique_ptr<ExportOutput> openStdoutOutput();

// A random (version 4) GUID in EWF byte order: its text form
// (ewfGuidText) reads xxxxxxxx-xxxx-4xxx-[89ab]xxx-xxxxxxxxxxxx.
void randomGuid(std::uint8_t guid[16]);

}  // namespace salvage
