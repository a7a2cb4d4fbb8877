#pragma once
// FAT32 volumes: the FAT is read from the volume through a block cache, the
// root directory lives in the cluster area, subdirectories are walked to the
// end of their chains, and the Recycle Bin's "$R" files get their former names.
#include "fs/fat/FatVolume.h"

namespace salvage {

class Fat32Class : public fat::FatVolume {
public:
    std::u16string parserName() const override { return u"Fat32Class"; }
    void recycleBinPass() override;

    // Leading FAT entries before the first end mark (0x0FFFFFFF) in the FAT's
    // first sector, at most 127; set by the parse.
    std::uint32_t fatUsedEntries() const { return fatUsedEntries_; }

protected:
    std::u16string refusalText() const override { return u"Selected Drive is not in Fat32 Format"; }
    std::u16string refusalCaption() const override { return {}; }
    std::u16string walkStatus() const override { return u"Finding Fat32 File And Directory entries recursively...."; }
    bool checkBootSector() override;
    std::vector<std::uint8_t> readRootDirectory() override;
    std::u16string fileName(ByteView entry) const override;
    bool subdirEndsAtZero() const override { return true; }
    bool folderAttr(std::uint8_t a) const override { return fat::isWalkedDirectory(a); }
    bool rootFolderNode(std::uint8_t a) const override { return fat::isWalkedDirectory(a) && a != 0x14; }
    bool dummyGetsNode() const override { return false; }

    fat::FatKind fatKind() const override { return fat::FatKind::Fat32; }
    const char* candidateFormat() const override { return "FAT32_ENTRY:%d"; }
    bool entryHit(ByteView e, std::uint64_t n) const override { return fat::isFat32EntryHit(e, n); }
    std::uint64_t foundFurtherClusters() const override { return 19; }
    std::uint64_t nestedFurtherClusters() const override { return 19; }
    void loadFatAtCandidate(std::size_t index, std::uint32_t sectorsPerCluster) override;
    std::int64_t advancedDataStart(const fat::ScanMarks& marks) const override;

private:
    std::int64_t fatOffset_ = 0;
    std::uint32_t rootCluster_ = 0;
    std::uint32_t fatUsedEntries_ = 0;
    std::int64_t bootDataStart_ = 0;
};

}  // namespace salvage
