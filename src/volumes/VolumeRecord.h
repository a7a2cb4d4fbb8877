#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace salvage {

// Where a volume lies against the image it was found in.
enum class ImageFit {
    Inside,    // wholly inside the image (or its size is not known)
    RunsPast,  // starts inside but its size runs past the image's end (truncated image)
    Outside,   // starts at or past the image's end: nothing of it is in the image
};

// One found volume, as the volume list shows it and the later pages take it.
struct VolumeRecord {
    std::u16string fileSystem;  // "NTFS", "FAT12", "FAT16", "FAT32", "FAT64", "extX", "HFS+", "Unknown", ...
    std::u16string name;        // the entry's number in the list, in decimal
    std::u16string sizeText;    // the size as displayed; its leading number is the size in MiB
    std::int64_t startSector = 0;
    // The volume's length in 512-byte sectors as its table entry or boot
    // sector gives it; -1 when only sizeText is known (custom entries typed
    // by hand keep it in step). Volumes under 1 MiB (floppies) need it: the
    // MiB text rounds them to nothing.
    std::int64_t sectors = -1;
    ImageFit fit = ImageFit::Inside;
};

// The leading decimal number of sizeText (leading blanks skipped, reading
// stops at the first non-digit), the volume's size in MiB; 0 when none.
std::int64_t sizeTextMegabytes(const std::u16string& sizeText);

// The volume's size in bytes: its exact sector count when known, else the
// MiB its size text names. Every parser and page takes the size from here.
std::int64_t volumeBytes(const VolumeRecord& record);

// The sectors of the image a volume covers.
struct VolumeExtent {
    std::int64_t startSector = 0;
    std::int64_t sectors = 0;
    bool clipped = false;  // the volume's own size ran past the image's end
    std::int64_t startByte() const { return startSector * 512; }
    std::int64_t bytes() const { return sectors > INT64_MAX / 512 ? INT64_MAX : sectors * 512; }
};

// The volume's extent inside an image of imageSectors sectors: from its
// start for its size (the rest of the image when the size is 0), clipped at
// the image's end. Nothing when it starts outside the image.
std::optional<VolumeExtent> extentOf(const VolumeRecord& record, std::int64_t imageSectors);

// How the record lies against an image of imageSectors sectors.
ImageFit fitInImage(const VolumeRecord& record, std::int64_t imageSectors);

}  // namespace salvage
