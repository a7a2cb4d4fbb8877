#pragma once
// The run's one sector source. "Parse as Disk" installs a new one in place
// of the old; g_sectorSource, g_imageKind and g_totalSectors follow it.
#include <filesystem>
#include <memory>

#include "image/EwfInfo.h"
#include "image/Globals.h"
#include "image/SectorSource.h"

namespace salvage::app {

class QtReporter;

// Replaces the run's source with a reader for `path`: the EWF reader (with
// `info`, the information page's record) for an EWF segment, the raw reader
// otherwise. The source is not opened here; the scan that follows opens it.
readWriteInterface& installSectorSource(const std::filesystem::path& path, const EwfInfoRecord* info);
// The image the run's source reads (empty when none is installed); the
// save reports name it.
const std::filesystem::path& sourcePath();
// Deletes the run's source; g_sectorSource is null afterwards.
void releaseSectorSource();
// The reporter the run's source reports its read failures through.
QtReporter& sourceReporter();

}  // namespace salvage::app
