#pragma once
// FAT16 and FAT12 volumes: the FAT and the fixed root directory are read
// into memory, subdirectories are walked through their cluster chains. The
// two differ only in the width of a FAT entry; the boot sector decides it
// when it can, else the parser chosen does.
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
    bool entryHit(ByteView e, std::uint64_t n) const override { return fat::isFat16EntryHit(e, n); }
    std::uint64_t foundFurtherClusters() const override { return 1; }
    std::uint64_t nestedFurtherClusters() const override { return 2; }
    void loadFatAtCandidate(std::size_t index, std::uint32_t sectorsPerCluster) override;
    std::int64_t advancedDataStart(const fat::ScanMarks& marks) const override;
    // FAT entry width when the boot sector does not tell it.
    virtual unsigned defaultFatBits() const { return 16; }
    // The width in use: 12 or 16.
    unsigned fatBits_ = 16;

private:
    std::int64_t rootDirOffset_ = 0;
    std::uint32_t rootDirBytes_ = 0;
    std::uint32_t bootRootDirBytes_ = 0;  // the root's size as a boot sector that passed its test gives it
};

// FAT12 (floppies, small cards, EFI system partitions): the FAT16 rules with
// 12-bit FAT entries.
class Fat12Class : public Fat16Class {
public:
    std::u16string parserName() const override { return u"Fat12Class"; }

protected:
    std::u16string refusalText() const override { return u"Selected Drive is not in Fat12 Format"; }
    std::u16string walkStatus() const override { return u"Finding Fat12 File And Directory entries recursively...."; }
    fat::FatKind fatKind() const override { return fat::FatKind::Fat12; }
    unsigned defaultFatBits() const override { return 12; }
};

}  // namespace salvage
