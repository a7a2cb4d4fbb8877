#include "fs/fat/Fat16Class.h"

#include "fs/fat/BootSector.h"
#include "fs/fat/FatNames.h"
#include "platform/AppTitle.h"

namespace salvage {

namespace {
// A FAT16 FAT holds at most 65,536 two-byte entries; bytes past that are never looked up.
constexpr std::uint64_t kMaxFat16Bytes = 65536 * 2;

// The entry width a FAT12/16 boot sector names: its type label, else its
// cluster count; 0 when it tells neither.
unsigned fatBitsOf(ByteView boot) {
    if (boot.matches(54, "FAT12")) return 12;
    if (boot.matches(54, "FAT16")) return 16;
    if (const auto l = fatLayout(boot)) {
        if (l->kind == BootKind::Fat12) return 12;
        if (l->kind == BootKind::Fat16) return 16;
    }
    return 0;
}
}  // namespace

std::u16string Fat16Class::refusalCaption() const { return kAppTitle; }

bool Fat16Class::checkBootSector() {
    std::uint8_t boot[512] = {};
    fatBits_ = defaultFatBits();
    if (!readAt(*source, 0, boot, sizeof boot)) return false;
    ByteView b(boot, sizeof boot);
    if (!fat::acceptsFatBootSector(b, false)) return false;
    const std::uint32_t bps = le16(b, 11), spc = b[13], reserved = le16(b, 14), fats = b[16];
    const std::uint32_t rootEntries = le16(b, 17), spf = le16(b, 22);
    if (spf == 0) return false;  // a FAT32 boot sector
    // Geometry no FAT16 volume has would only yield reads of garbage.
    if (bps < 512 || bps >= 0x8000 || spc == 0 || rootEntries >= 0x8000 || spf >= 0x8000) return false;
    clusterBytes_ = bps * spc;
    if (clusterBytes_ > fat::kMaxClusterBytes) return false;
    const std::int64_t fatOffset = std::int64_t(reserved) * bps;
    const std::uint64_t fatBytes = std::uint64_t(spf) * bps;
    rootDirOffset_ = std::int64_t(bps) * (std::int64_t(fats) * spf + reserved);
    rootDirBytes_ = rootEntries * 32;
    bootRootDirBytes_ = rootDirBytes_;
    clusterHeap_ = rootDirOffset_ + rootDirBytes_;

    if (const unsigned told = fatBitsOf(b)) fatBits_ = told;
    auto chain = fat::makeSmallFatChain(fatBits_);
    chain->image.assign(std::size_t(std::min(fatBytes, kMaxFat16Bytes)), 0);
    readAt(*source, fatOffset, chain->image.data(), std::uint32_t(chain->image.size()));
    // Cluster numbers stop at the FAT's last entry and at the volume's end.
    std::uint64_t limit = fat::smallFatEntries(chain->image.size(), fatBits_);
    std::uint64_t total = le16(b, 19) ? le16(b, 19) : le32(b, 32);
    if (total == 0) total = std::uint64_t(volumeBytes()) / 512;
    const std::uint64_t heapSectors = std::uint64_t(clusterHeap_) / bps;
    if (total > heapSectors) limit = std::min<std::uint64_t>(limit, (total - heapSectors) / spc + 2);
    chain->clusterLimit = std::uint32_t(limit);
    chain_ = std::move(chain);
    return true;
}

std::vector<std::uint8_t> Fat16Class::readRootDirectory() {
    std::vector<std::uint8_t> root(rootDirBytes_, 0);
    if (rootDirBytes_) readAt(*source, rootDirOffset_, root.data(), rootDirBytes_);
    return root;
}

void Fat16Class::loadFatAtCandidate(std::size_t index, std::uint32_t spc) {
    if (spc == 0 || spc > 512) return;
    clusterBytes_ = 512 * spc;
    const std::uint64_t clusters = std::uint64_t(volumeBytes()) / clusterBytes_;
    const std::int64_t fatAt = fatCandidates_[index];
    // A boot sector that passed its test has named the width; else the
    // parser's own.
    if (!bootValid_) fatBits_ = defaultFatBits();
    auto chain = fat::makeSmallFatChain(fatBits_);
    chain->image.assign(std::size_t(std::min<std::uint64_t>(fat::smallFatBytes(clusters, fatBits_), kMaxFat16Bytes)), 0);
    readAt(*source, fatAt, chain->image.data(), std::uint32_t(chain->image.size()));
    chain->clusterLimit =
        std::uint32_t(std::min<std::uint64_t>(clusters, fat::smallFatEntries(chain->image.size(), fatBits_)));
    chain_ = std::move(chain);
    // The root directory follows the FAT copies. Two copies found give the
    // FAT's length; otherwise it is estimated from the assumed cluster count.
    const std::uint64_t fatLength = fat::smallFatBytes(clusters, fatBits_);
    if (fatCandidates_.size() >= 2 && fatCandidates_[1] > fatCandidates_[0]) {
        rootDirOffset_ = fatCandidates_[1] + (fatCandidates_[1] - fatCandidates_[0]);
    } else if (fatLength % 512 == 0) {
        rootDirOffset_ = std::int64_t(2 * (fatLength + 2560));
    } else {
        rootDirOffset_ = std::int64_t(2 * ((fatLength + 511) / 512 * 512 + 2048));
    }
    // 512 root entries, unless a sound boot sector says otherwise (a
    // floppy's root holds 224).
    rootDirBytes_ = bootValid_ && bootRootDirBytes_ ? bootRootDirBytes_ : 16384;
    clusterHeap_ = rootDirOffset_ + rootDirBytes_;
}

std::int64_t Fat16Class::advancedDataStart(const fat::ScanMarks& marks) const {
    // Two FAT copies fix the layout. With one, the estimate from the assumed
    // cluster count holds only for the layout it presumes; a folder's "."
    // entry, which names its own cluster, places cluster 2 on any layout.
    // FAT12 roots come in many sizes (224 entries on a floppy): without a
    // sound boot sector the "." entry places cluster 2 there too.
    const bool twoCopies = fatCandidates_.size() >= 2 && fatCandidates_[1] > fatCandidates_[0];
    const bool rootSizeKnown = fatBits_ == 16 || bootValid_;
    if ((!twoCopies || !rootSizeKnown) && marks.dotHeap > 0) return marks.dotHeap;
    return clusterHeap_;
}

std::u16string Fat16Class::fileName(ByteView entry) const { return fat::shortNameFile16(entry); }

}  // namespace salvage
