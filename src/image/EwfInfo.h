#pragma once
// What an EWF image's segment files say about the acquisition and the media,
// read through libewf into one record, and that record as the rows of the
// two-column ("ITEM", "VALUE") information list.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Reporter.h"

namespace salvage {

// A field left empty or 0 means the image does not provide the value.
struct EwfInfoRecord {
    std::string banner;  // reading tool's name and libewf version, "NAME VERSION\n\n"
    std::u16string caseNumber;
    std::u16string description;
    std::u16string examinerName;
    std::u16string evidenceNumber;
    std::u16string notes;
    std::u16string acquisitionDate;
    std::u16string systemDate;
    std::u16string operatingSystem;
    std::u16string softwareVersion;
    std::u16string fileFormat;
    std::uint32_t sectorsPerChunk = 0;
    std::uint32_t errorGranularity = 0;
    std::u16string compressionLevel;
    std::u16string guid;
    std::u16string mediaType;
    std::int32_t isPhysical = 0;  // media flags AND 2: 0 or 2
    std::uint32_t bytesPerSector = 0;
    std::uint64_t numberOfSectors = 0;
    std::uint64_t mediaSize = 0;
    // The hashes the acquiring tool stored over the media (lower-case hex).
    std::string acquisitionMd5, acquisitionSha1;
};

struct InfoRow {
    std::u16string item;
    std::u16string value;
};

// Header text fields hold at most this many UTF-16 units (longer values are
// cut there, the way a fixed 512-unit field holds them).
inline constexpr std::size_t kEwfTextUnits = 511;

// Expands `pattern` as a wildcard pattern into the existing files it names,
// sorted. A path without wildcard characters resolves to itself; a pattern
// that matches nothing gives an empty list. False when the expansion itself
// fails.
bool resolveImagePattern(const std::filesystem::path& pattern, std::vector<std::string>& files);

// Name tables keyed by libewf's codes.
std::u16string ewfFormatName(std::uint8_t format);
std::u16string ewfCompressionName(int level);
std::u16string ewfMediaTypeName(std::uint8_t mediaType);
// The 16 GUID bytes as 36 lower-case hex characters, first three groups
// little-endian.
std::u16string ewfGuidText(const std::uint8_t guid[16]);

// Fills `record` from the image named by `path` (first segment or wildcard
// pattern). On failure it has reported its message (no caption) and returns
// false; fields read before the failure stay.
bool readImageInformation(const std::filesystem::path& path, EwfInfoRecord& record, Reporter& reporter);

// Appends one row per available value, top to bottom from "GUID :" to
// "EWF FILE INFORMATION :".
void fillInformationList(const EwfInfoRecord& record, std::vector<InfoRow>& list);

}  // namespace salvage
