#pragma once
// The BIOS parameter block shared by FAT12, FAT16 and FAT32 boot sectors is
// decoded in volumes/ (the volume scans tell FAT volumes by it); the parsers
// add which boot sectors they take.
#include <cstdint>

#include "platform/ByteView.h"
#include "volumes/BootSignature.h"

namespace salvage::fat {

using salvage::BiosParameterBlock;
using salvage::decodeBpb;
using salvage::isSoundBpb;

// The OEM name the parser expects, a sound block whose file-system type
// label (offset 54 for FAT12/16, 82 for FAT32) names the type, or a boot
// sector whose structure makes it a volume of the kind (FAT12 and FAT16 for
// the 12/16-bit parser, FAT32 for the other).
bool acceptsFatBootSector(ByteView boot, bool fat32);

}  // namespace salvage::fat
