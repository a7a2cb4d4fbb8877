#include "volumes/AdvancedVolumeScan.h"

#include <string>

#include "image/ChunkedScan.h"
#include "platform/ByteView.h"
#include "platform/Text.h"
#include "volumes/BootSignature.h"

namespace salvage {

int AdvancedVolumeScan::run(readWriteInterface& source, std::int64_t totalSectors) {
    if (totalSectors < 0) totalSectors = source.totalSectors();
    totalSectors = std::min(totalSectors, INT64_MAX / kSectorBytes);
    reporter_->setStatus(u"Scanning partition.....");
    source.baseOffset = 0;

    const std::int64_t startSector = rangeStartSector > 0 ? rangeStartSector : 0;
    // The end is compared with each window's first sector (the window that
    // holds it is scanned whole). Sectors are compared rather than bytes, so
    // a hostile range cannot overflow.
    const bool hasEnd = rangeEndSector > 0;
    if (startSector >= totalSectors) {
        reporter_->setProgressRange(0, 1000);
        return 0;
    }

    int volumeCounter = 0, ntfsCounter = 0, error = 0;
    ChunkedScanOptions o;
    o.begin = startSector * kSectorBytes;
    // The last window holds only what the image has left; sectors past the
    // end are never examined, so a short last window is no error.
    o.end = totalSectors * kSectorBytes;
    o.chunkBytes = kAdvancedScanWindowBytes;
    // A window starts where the previous one stopped: behind a skipped
    // volume, not on a fixed grid.
    o.chunksOnGrid = false;
    o.poll = this;
    o.progress = reporter_;
    const ChunkedScanResult r = chunkedScan(source, o, [&](const ScanChunk& window) -> std::int64_t {
        const std::int64_t windowSector = window.offset / kSectorBytes;
        if (hasEnd && rangeEndSector < windowSector) return kScanStop;
        // One damaged spot (an EWF chunk failing its checksum, a bad sector)
        // must not hide the rest of the disk: the scan has read a failed
        // window again sector by sector, unreadable sectors staying zero.
        // Only a window without one readable sector ends the scan.
        if (!window.readable) {
            error = window.readError;
            return kScanStop;
        }
        const std::int64_t windowEnd = window.limit / kSectorBytes;
        std::int64_t sector = windowSector;
        while (sector < windowEnd) {
            if (stopRequested.load(std::memory_order_relaxed)) return kScanStop;
            const ByteView bytes = window.bytes.sub(std::size_t((sector - windowSector) * kSectorBytes), kSectorBytes);
            if (!mayHoldBootSignature(bytes)) {
                ++sector;
                continue;
            }
            const BootSignature found = classifyBootSector(bytes, sector);
            std::int64_t next = sector + 1;
            if (found.kind != BootKind::None) {
                if (found.listed() || found.statusEvenWhenUnlisted()) {
                    if (found.listed() && found.kind == BootKind::Ntfs) ++ntfsCounter;
                    reporter_->setStatus(found.kind == BootKind::Ntfs ? format16("found NTFS %d...", ntfsCounter)
                                                                      : found.statusWords);
                }
                if (found.listed()) {
                    VolumeRecord record;
                    record.fileSystem = found.fileSystem;
                    record.name = fromUtf8(std::to_string(volumeCounter++));
                    record.sizeText = found.sizeText;
                    record.startSector = found.volumeStartSector;
                    record.sectors = found.volumeSectors;
                    records_->push_back(record);
                    if (onFound) onFound(records_->back());
                    // Resume at the first sector behind the volume, unless the
                    // claimed size runs past the image: a wild size field must
                    // not hide the rest of the disk.
                    if (skipVolumeSize && found.volumeSectors <= totalSectors - found.volumeStartSector &&
                        found.volumeStartSector + found.volumeSectors > next)
                        next = found.volumeStartSector + found.volumeSectors;
                }
            }
            sector = next;
        }
        return sector * kSectorBytes;
    });
    if (error != 0) return error;
    if (r.stopped || stopRequested.load(std::memory_order_relaxed)) reporter_->setStatus(u"Scanned Partitions");
    return 0;
}

}  // namespace salvage
