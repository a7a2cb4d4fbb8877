#pragma once
// Which volume of an image a command works on: `--volume N` as `salvage
// volumes` lists it (from the MBR, or the GPT with --gpt), changed by the
// "Custom Settings" overrides --start, --end and --fs. An image without a
// partition table is taken as one bare volume at sector 0, its file system
// told by its boot sector or superblock.
#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "browse/VolumeParser.h"
#include "image/SectorSource.h"
#include "volumes/VolumeRecord.h"

namespace salvage::cli {

struct VolumeOptions {
    std::string volume;  // the list's name ("1", "2", ...)
    bool gpt = false;
    std::optional<std::int64_t> start, end;
    std::string fileSystem;
    std::string mode = "standard";
    std::optional<int> candidate, sectorsPerCluster, heap;
    std::int64_t maxCandidates = 3;
    bool formatted = false;
};

void addVolumeOptions(CLI::App* cmd, VolumeOptions& o);

// The file system a bare volume's first sectors name ("NTFS", "FAT16",
// "FAT32", "FAT64", "extX", "HFS+"), or "Unknown".
std::u16string detectFileSystem(readWriteInterface& source, std::int64_t startSector);

// Picks the volume; false with a message in `error` when it cannot.
bool chooseVolume(readWriteInterface& source, const VolumeOptions& o, VolumeRecord& out, std::string& error);

std::optional<RecoveryMode> parseMode(const std::string& text);

}  // namespace salvage::cli
