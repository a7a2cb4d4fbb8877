#pragma once
// FAT16 volumes: the FAT and the fixed root directory are read into memory,
// subdirectories are walked through their cluster chains.
#include "fs/fat/FatVolume.h"

namespace salvage {

class Fat16Class : public fat::FatVolume {
public:
    std::u16string parserName() const override { return u"Fat16Class"; }

protected:
    std::u16string refusalText() const override { return u"Selected Drive is not in Fat16 Format"; }
    std::u16string refusalCaption() const override;
    std::u16string walkStatus() const override { return u"Finding Fat16 File And Directory entries recursively...."; }
    bool checkBootSector() override;
    std::vector<std::uint8_t> readRootDirectory() override;
    std::u16string fileName(ByteView entry) const override;
    bool subdirEndsAtZero() const override { return false; }
    bool folderAttr(std::uint8_t a) const override { return a == 0x10 || a == 0x11 || a == 0x13; }
    bool rootFolderNode(std::uint8_t a) const override { return folderAttr(a); }
    bool dummyGetsNode() const override { return true; }

    fat::FatKind fatKind() const override { return fat::FatKind::Fat16; }
    const char* candidateFormat() const override { return "FAT_ENTRY:%d"; }
    std::vector<int> sectorsPerClusterChoices() const override { return {4, 8, 16, 2, 32, 64, 128}; }
    bool offersBootSectorsPerCluster(std::uint8_t spc) const override { return spc != 0 && spc % 2 == 0; }
    bool entryHit(ByteView e, std::uint64_t n) const override { return fat::isFat16EntryHit(e, n); }
    std::uint64_t foundFurtherClusters() const override { return 1; }
    std::uint64_t nestedFurtherClusters() const override { return 2; }
    void loadFatAtCandidate(std::size_t index, std::uint32_t sectorsPerCluster) override;
    std::int64_t advancedDataStart(const fat::ScanMarks& marks) const override;

private:
    std::int64_t rootDirOffset_ = 0;
    std::uint32_t rootDirBytes_ = 0;
};

}  // namespace salvage
