#pragma once
// The Advanced mode's searches over a volume whose boot sector is not
// trusted: sectors that start like a FAT (or, on exFAT, like the cluster
// heap's allocation bitmap), and 32-byte slots that look like directory
// entries.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "image/SectorSource.h"
#include "platform/ByteView.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"

namespace salvage::fat {

// The searches read the volume in blocks of this size.
inline constexpr std::uint32_t kSearchBlockBytes = 10 * 1024 * 1024;
// A candidate count typed as 0 or below searches for this many.
inline constexpr std::int64_t kDefaultCandidates = 3;

enum class FatKind { Fat16, Fat32, ExFat, Fat12 };

// One of the things a pass over a volume's 512-byte boundaries looks for.
// `see` gets each boundary's offset (from the volume start) and the sector
// from there, cut at the volume's end, and answers whether it wants more.
class SectorSeeker {
public:
    virtual ~SectorSeeker() = default;
    virtual bool see(std::int64_t at, ByteView sector) = 0;
};

// Hands the volume's sectors to every seeker in one read of the volume,
// until none wants more, the stop flag is raised (it is cleared) or the
// volume ends. Progress goes to the reporter; with blockStatus (FAT32's
// search) the status line also names each block's position.
void seekSectors(readWriteInterface& src, std::int64_t volumeBytes, std::initializer_list<SectorSeeker*> seekers,
                 Pollable& poll, Reporter& reporter, bool blockStatus = false);

// Collects the starts of a FAT of the kind (see findFatStarts), at most max
// of them, naming the count found on the status line.
class FatStartSeeker final : public SectorSeeker {
public:
    FatStartSeeker(FatKind kind, std::int64_t max, Reporter& reporter);
    bool see(std::int64_t at, ByteView sector) override;
    std::vector<std::int64_t> found;

private:
    FatKind kind_;
    std::int64_t max_;
    Reporter& reporter_;
};
// Collects sectors whose first 8 bytes are all 0xFF, up to max + 1 of them.
class HeapStartSeeker final : public SectorSeeker {
public:
    explicit HeapStartSeeker(std::int64_t max);
    bool see(std::int64_t at, ByteView sector) override;
    std::vector<std::int64_t> found;

private:
    std::int64_t max_;
};

// Offsets (from the volume start) of 512-byte boundaries whose first bytes
// start a FAT of the kind: FAT16 F8 FF FF FF; FAT32 0x0FFFFFF8 then an end
// mark (0xFFFFFFFF, or 0x0FFFFFFF as mkfs.fat writes it); FAT12 a media
// byte (0xF0, 0xF8-0xFF) then FF FF; exFAT 0xFFFFFFF8
// then 0xFFFFFFFF. At most max offsets; ends on the stop flag.
std::vector<std::int64_t> findFatStarts(readWriteInterface& src, std::int64_t volumeBytes, FatKind kind,
                                        std::int64_t max, Pollable& poll, Reporter& reporter);
// Offsets of 512-byte boundaries whose first 8 bytes are all 0xFF (an
// allocation bitmap's start), up to max + 1 of them.
std::vector<std::int64_t> findHeapStarts(readWriteInterface& src, std::int64_t volumeBytes, std::int64_t max,
                                         Pollable& poll, Reporter& reporter);

// Whether a FAT16 directory slot looks like a live or deleted entry of a
// volume with clusterCount clusters (a volume label owning clusters counts).
bool isFat16EntryHit(ByteView e, std::uint64_t clusterCount);
// The same for FAT32, whose entries must also carry non-zero creation
// tenths, dates and times.
bool isFat32EntryHit(ByteView e, std::uint64_t clusterCount);
// A volume label or "RECYCLE" slot that marks the FAT32 root directory.
bool isFat32RootMark(ByteView e);
// Where cluster 2 lies, read from a folder's "." and ".." entries at off
// (two slots): the "." entry names the folder's own cluster. -1 when the
// slots are no such pair or the position does not fit the cluster number.
std::int64_t heapFromDotEntries(ByteView twoSlots, std::int64_t off, std::uint32_t clusterBytes,
                                std::uint64_t clusterCount);
// Whether an exFAT entry set starts at off of dir: file entry, stream
// extension and exactly the name entries its name length needs.
bool isExFatSetHit(ByteView dir, std::size_t off);

}  // namespace salvage::fat
