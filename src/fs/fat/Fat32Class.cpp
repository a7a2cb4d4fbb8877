#include "fs/fat/Fat32Class.h"

#include "fs/fat/BootSector.h"
#include "fs/fat/FatNames.h"
#include "fs/fat/RecycleBin.h"

namespace salvage {

namespace {
constexpr std::uint32_t kFat32EndMark = 0x0FFFFFFF;
// The head of the FAT examined for the root directory's run: its first sector.
constexpr std::uint32_t kHeadEntries = 127;
}  // namespace

bool Fat32Class::checkBootSector() {
    std::uint8_t boot[512] = {};
    if (!readAt(*source, 0, boot, sizeof boot)) return false;
    ByteView b(boot, sizeof boot);
    if (!fat::acceptsFatBootSector(b, true)) return false;
    const fat::BiosParameterBlock p = fat::decodeBpb(b);
    if (p.sectorsPerFat16 != 0) return false;  // a FAT12/FAT16 boot sector
    // Geometry no FAT32 volume has would only yield reads of garbage.
    if (p.bytesPerSector < 512 || p.bytesPerSector >= 0x8000 || p.sectorsPerCluster == 0 || p.sectorsPerFat32 == 0)
        return false;
    clusterBytes_ = p.bytesPerSector * p.sectorsPerCluster;
    if (clusterBytes_ > fat::kMaxClusterBytes) return false;
    fatOffset_ = std::int64_t(p.reservedSectors) * p.bytesPerSector;
    const std::uint64_t fatBytes = std::uint64_t(p.sectorsPerFat32) * p.bytesPerSector;
    clusterHeap_ = std::int64_t(p.bytesPerSector) * (std::int64_t(p.fatCount) * p.sectorsPerFat32 + p.reservedSectors);
    rootCluster_ = p.rootCluster;
    bootDataStart_ = clusterHeap_;

    // Cluster numbers stop at the FAT's last entry and at the volume's end
    // (the boot sector's count, or the volume record's size when it has none).
    std::uint64_t limit = std::min<std::uint64_t>(fatBytes / 4, 0x0FFFFFF7);
    std::uint64_t total = p.totalSectors;
    if (total == 0) total = std::uint64_t(volumeBytes()) / p.bytesPerSector;
    const std::uint64_t heapSectors = std::uint64_t(clusterHeap_) / p.bytesPerSector;
    limit = total > heapSectors ? std::min<std::uint64_t>(limit, (total - heapSectors) / p.sectorsPerCluster + 2) : 2;
    auto chain = std::make_unique<fat::Fat32Chain>(*source, fatOffset_, fatBytes);
    chain->clusterLimit = std::uint32_t(limit);
    chain->endFrom = 0x0FFFFFF7;
    chain_ = std::move(chain);
    return true;
}

std::vector<std::uint8_t> Fat32Class::readRootDirectory() {
    std::uint8_t head[512] = {};
    readAt(*source, fatOffset_, head, sizeof head);
    ByteView h(head, sizeof head);
    fatUsedEntries_ = 0;
    while (fatUsedEntries_ < kHeadEntries && le32(h, 4 * fatUsedEntries_) != kFat32EndMark) ++fatUsedEntries_;

    std::vector<std::uint8_t> root;
    std::vector<std::uint8_t> buf;
    if (fatUsedEntries_ >= 2) {
        // The root directory is cluster 2 and the clusters FAT entries 2 ..
        // fatUsedEntries - 1 name: the run at the head of the FAT that a
        // freshly formatted volume's root takes.
        readCluster(2, buf);
        root = buf;
        for (std::uint32_t k = 2; k < fatUsedEntries_; ++k) {
            const std::uint32_t c = chain_->entry(k);
            buf.assign(clusterBytes_, 0);
            if (c >= 2 && c < chain_->clusterLimit) readCluster(c, buf);
            root.insert(root.end(), buf.begin(), buf.end());
        }
        return root;
    }
    // The head of the FAT names no root run (as on every volume whose FAT[1]
    // is itself the end mark): the root directory is the boot sector's root
    // cluster and its chain.
    fat::readClusterData(*source, geometry(), chain_.get(), rootCluster_, fat::kMaxDirectoryBytes, false,
                         [&](const std::uint8_t* d, std::size_t n) {
                             root.insert(root.end(), d, d + n);
                             return true;
                         },
                         this);
    return root;
}

void Fat32Class::loadFatAtCandidate(std::size_t index, std::uint32_t spc) {
    if (spc != 0 && spc <= 512) clusterBytes_ = 512 * spc;
    if (clusterBytes_ == 0) clusterBytes_ = 512;
    const std::uint64_t clusters = std::min<std::uint64_t>(std::uint64_t(volumeBytes()) / clusterBytes_, 0x0FFFFFF7);
    const std::int64_t fatAt = index < fatCandidates_.size() ? fatCandidates_[index] : 0;
    auto chain = std::make_unique<fat::Fat32Chain>(*source, fatAt, clusters * 4);
    chain->clusterLimit = std::uint32_t(clusters);
    chain->endFrom = 0x0FFFFFF7;
    chain_ = std::move(chain);
}

std::int64_t Fat32Class::advancedDataStart(const fat::ScanMarks& marks) const {
    if (bootValid_) return bootDataStart_;
    if (marks.rootMark > 0) return marks.rootMark;
    // Two FAT copies found: cluster 2 follows the second.
    if (fatCandidates_.size() >= 2 && fatCandidates_[1] > fatCandidates_[0])
        return fatCandidates_[1] + (fatCandidates_[1] - fatCandidates_[0]);
    // A folder's "." entry names its own cluster.
    if (marks.dotHeap > 0) return marks.dotHeap;
    return 0;
}

std::u16string Fat32Class::fileName(ByteView entry) const { return fat::shortNameFile32(entry); }

void Fat32Class::recycleBinPass() {
    fat::renameRecycledFiles(*this, {[this](RecordId id) { return readFileBytes(id, fat::kMaxRecycleInfoBytes); },
                                     [this](RecordId id, const std::u16string& n) { renameRecord(id, n); }});
}

}  // namespace salvage
