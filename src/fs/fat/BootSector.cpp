#include "fs/fat/BootSector.h"

namespace salvage::fat {

bool acceptsFatBootSector(ByteView boot, bool fat32) {
    if (boot.matches(3, "MSDOS")) return true;
    if (fat32 && boot.matches(3, "BSD")) return true;
    if (const auto l = fatLayout(boot)) return (l->kind == BootKind::Fat32) == fat32;
    if (!isSoundBpb(decodeBpb(boot))) return false;
    if (fat32) return boot.matches(82, "FAT32");
    return boot.matches(54, "FAT16") || boot.matches(54, "FAT12");
}

}  // namespace salvage::fat
