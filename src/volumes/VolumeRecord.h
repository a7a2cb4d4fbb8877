#pragma once
#include <cstdint>
#include <string>

namespace salvage {

// One found volume, as the volume list shows it and the later pages take it.
struct VolumeRecord {
    std::u16string fileSystem;  // "NTFS", "FAT16", "FAT32", "FAT64", "extX", "HFS+", "Unknown", ...
    std::u16string name;        // the entry's number in the list, in decimal
    std::u16string sizeText;    // the size as displayed; its leading number is the size in MiB
    std::int64_t startSector = 0;
};

// The leading decimal number of sizeText (leading blanks skipped, reading
// stops at the first non-digit), the volume's size in MiB; 0 when none.
std::int64_t sizeTextMegabytes(const std::u16string& sizeText);

}  // namespace salvage
