#pragma once
// The advanced volume scan: finds NTFS, FAT12/16/32, exFAT, HFS+ and ext2/3/4
// volumes without trusting any partition table, by testing every sector of
// the image (read in 1 MiB windows) for a boot sector, volume header or
// primary superblock.
#include <cstdint>
#include <functional>
#include <vector>

#include "image/SectorSource.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"
#include "volumes/VolumeRecord.h"

namespace salvage {

inline constexpr std::uint32_t kAdvancedScanWindowBytes = 1048576;  // 2048 sectors per read

class AdvancedVolumeScan : public Pollable {
public:
    // `records` receives every find in discovery order (the page's array);
    // status words and progress go to `reporter`.
    explicit AdvancedVolumeScan(std::vector<VolumeRecord>& records, Reporter& reporter = nullReporter())
        : records_(&records), reporter_(&reporter) {}

    // Set unless "Do not Skip Volume Size While Parsing in Advance  Scan " is
    // ticked: after a find the scan resumes behind the volume.
    bool skipVolumeSize = true;
    // Custom range in sectors; 0 or less means not set. The end is tested
    // against each window's first byte, so the window holding it is scanned
    // whole.
    std::int64_t rangeStartSector = 0;
    std::int64_t rangeEndSector = 0;
    // Called with each record as soon as it is found, after it has been
    // appended (the page inserts it at the top of its list: newest first).
    // Runs on the scanning thread.
    std::function<void(const VolumeRecord&)> onFound;

    // Scans `source` (its baseOffset is set to 0) over `totalSectors`
    // sectors (the image size when negative). Returns 0, or the error code
    // (errno) of a window that could not be read; finds before it stay.
    // Status "Scanning partition....." at the start, "Scanned Partitions" on
    // Stop; progress range 0..1000 and the per-mille position per window.
    int run(readWriteInterface& source, std::int64_t totalSectors = -1);

private:
    std::vector<VolumeRecord>* records_;
    Reporter* reporter_;
};

}  // namespace salvage
