#pragma once
// Which volume of an image a command works on: `--volume N` as `salvage
// volumes` lists it (from the MBR, or the GPT with --gpt), changed by the
// "Custom Settings" overrides --start, --end and --fs. A bare volume (sector
// 0 a boot sector or superblock) is the list's one volume; an image with
// neither table nor file system is taken whole.
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

// Picks the volume; false with a message in `error` when it cannot.
bool chooseVolume(readWriteInterface& source, const VolumeOptions& o, VolumeRecord& out, std::string& error);

std::optional<RecoveryMode> parseMode(const std::string& text);

}  // namespace salvage::cli
