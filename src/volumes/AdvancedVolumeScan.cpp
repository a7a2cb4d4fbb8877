#include "volumes/AdvancedVolumeScan.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ByteView.h"
#include "platform/Text.h"
#include "volumes/BootSignature.h"

namespace salvage {

namespace {
constexpr std::int64_t kWindowSectors = kAdvancedScanWindowBytes / 512;

// Reads the window's sectors one at a time; false when none could be read.
bool readSectorBySector(readWriteInterface& source, std::int64_t firstSector, std::int64_t count,
                        std::vector<std::uint8_t>& window) {
    bool any = false;
    for (std::int64_t i = 0; i < count; ++i) {
        std::uint8_t* sector = window.data() + i * 512;
        if (readAt(source, (firstSector + i) * 512, sector, 512)) any = true;
        else std::memset(sector, 0, 512);
    }
    return any;
}
}  // namespace

int AdvancedVolumeScan::run(readWriteInterface& source, std::int64_t totalSectors) {
    if (totalSectors < 0) totalSectors = source.totalSectors();
    reporter_->setStatus(u"Scanning partition.....");
    reporter_->setProgressRange(0, 1000);

    const std::int64_t startSector = rangeStartSector > 0 ? rangeStartSector : 0;
    // The end is compared with each window's first sector (the window that
    // holds it is scanned whole). Sectors are compared rather than bytes, so
    // a hostile range cannot overflow.
    const bool hasEnd = rangeEndSector > 0;
    std::vector<std::uint8_t> window(kAdvancedScanWindowBytes, 0);
    source.baseOffset = 0;

    std::int64_t windowSector = startSector;
    int volumeCounter = 0, ntfsCounter = 0;
    auto progress = [&] {
        if (totalSectors > 0)
            reporter_->setProgressPosition(std::int64_t(double(std::uint64_t(windowSector)) /
                                                        double(std::uint64_t(totalSectors)) * 1000.0));
    };

    while (windowSector < totalSectors) {
        if (hasEnd && rangeEndSector < windowSector) break;
        if (pollStop()) {
            reporter_->setStatus(u"Scanned Partitions");
            break;
        }
        // The last window holds only what the image has left; sectors past
        // the end are never examined, so a short last window is no error.
        const std::int64_t windowCount = std::min(kWindowSectors, totalSectors - windowSector);
        errno = 0;
        if (!readAt(source, windowSector * 512, window.data(), std::uint32_t(windowCount * 512))) {
            const int error = errno != 0 ? errno : EIO;
            // One damaged spot (an EWF chunk failing its checksum, a bad
            // sector) must not hide the rest of the disk: the window is read
            // again sector by sector, unreadable sectors staying zero. Only
            // a window without one readable sector ends the scan.
            if (!readSectorBySector(source, windowSector, windowCount, window)) return error;
        }

        std::int64_t index = 0;  // sector within the window
        bool stopped = false;
        while (index < windowCount) {
            if (stopRequested.load(std::memory_order_relaxed)) {
                stopped = true;
                break;
            }
            const std::int64_t sector = windowSector + index;
            const BootSignature found =
                classifyBootSector(ByteView(window.data() + index * 512, 512), sector);
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
                if (stopRequested.load(std::memory_order_relaxed)) {
                    index = next - windowSector;
                    stopped = true;
                    break;
                }
            }
            index = next - windowSector;
        }
        windowSector += index;
        if (stopped) {
            reporter_->setStatus(u"Scanned Partitions");
            progress();
            break;
        }
        progress();
    }
    return 0;
}

}  // namespace salvage
