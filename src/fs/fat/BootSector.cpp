#include "fs/fat/BootSector.h"

namespace salvage::fat {

BiosParameterBlock decodeBpb(ByteView b) {
    BiosParameterBlock p;
    p.bytesPerSector = le16(b, 11);
    p.sectorsPerCluster = b[13];
    p.reservedSectors = le16(b, 14);
    p.fatCount = b[16];
    p.rootEntries = le16(b, 17);
    p.totalSectors = le16(b, 19) ? le16(b, 19) : le32(b, 32);
    p.sectorsPerFat16 = le16(b, 22);
    p.sectorsPerFat32 = le32(b, 36);
    p.rootCluster = le32(b, 44);
    return p;
}

namespace {
bool powerOfTwo(std::uint32_t v) { return v && (v & (v - 1)) == 0; }
}  // namespace

bool isSoundBpb(const BiosParameterBlock& b) {
    return powerOfTwo(b.bytesPerSector) && b.bytesPerSector >= 512 && b.bytesPerSector <= 4096 &&
           powerOfTwo(b.sectorsPerCluster) && b.reservedSectors >= 1 && b.fatCount >= 1 && b.fatCount <= 2 &&
           b.totalSectors > 0;
}

bool acceptsFatBootSector(ByteView boot, bool fat32) {
    if (boot.matches(3, "MSDOS")) return true;
    if (fat32 && boot.matches(3, "BSD")) return true;
    return isSoundBpb(decodeBpb(boot)) && boot.matches(fat32 ? 82 : 54, fat32 ? "FAT32" : "FAT16");
}

}  // namespace salvage::fat
