#include "volumes/BootSignature.h"

#include <cstring>
#include <vector>

#include "platform/Text.h"

namespace salvage {

namespace {
constexpr std::uint64_t kMiB = 1048576;
// HFS+ sizes from here on are not taken as a volume (block size × block
// count from a stray "H+" match).
constexpr std::uint64_t kMaxHfsMiB = 20971519;

bool bytesAre(ByteView v, std::size_t off, const char* text) {
    const std::size_t n = std::strlen(text);
    return v.size() >= off + n && std::memcmp(v.data() + off, text, n) == 0;
}

bool fatJump(std::uint8_t b1) { return b1 == 0x3C || b1 == 0x58 || b1 == 0x76; }
bool powerOfTwo(std::uint64_t v) { return v && (v & (v - 1)) == 0; }

std::u16string megabytes(std::uint64_t bytes, const char* format) {
    return format16(format, (long long)(bytes / kMiB));
}

std::int64_t clampedSectors(std::uint64_t sectors) {
    return sectors >= std::uint64_t(INT64_MAX) ? INT64_MAX : std::int64_t(sectors);
}

std::uint64_t clampedBytes(std::uint64_t sectors) { return sectors > (UINT64_MAX / 512) ? UINT64_MAX : sectors * 512; }

// The FAT layout found by structure, as a classified sector.
BootSignature fromLayout(const FatLayout& l, std::int64_t sector) {
    BootSignature s;
    s.kind = l.kind;
    s.fileSystem = l.fileSystem;
    s.statusWords = l.kind == BootKind::Fat32   ? u"found FAT 32..."
                    : l.kind == BootKind::Fat16 ? u"found FAT 16..."
                                                : u"found FAT 12...";
    s.volumeStartSector = sector;
    s.sizeBytes = clampedBytes(l.sectors);
    s.volumeSectors = clampedSectors(l.sectors);
    s.sizeText = megabytes(s.sizeBytes, "%lld  MB");
    return s;
}

bool isHfsPlusHeader(ByteView v) {
    return v.size() >= 3 && ((v[0] == 'H' && v[1] == '+') || (v[0] == 'H' && v[1] == 'X')) && v[2] == 0x00;
}
}  // namespace

bool BootSignature::listed() const {
    if (kind == BootKind::None || kind == BootKind::FatOther || sizeBytes < kMiB) return false;
    return kind != BootKind::HfsPlus || sizeBytes / kMiB <= kMaxHfsMiB;
}

BiosParameterBlock decodeBpb(ByteView b) {
    BiosParameterBlock p;
    p.bytesPerSector = le16(b, 11);
    p.sectorsPerCluster = b[13];
    p.reservedSectors = le16(b, 14);
    p.fatCount = b[16];
    p.rootEntries = le16(b, 17);
    p.totalSectors = le16(b, 19) ? le16(b, 19) : le32(b, 32);
    p.media = b[21];
    p.sectorsPerFat16 = le16(b, 22);
    p.sectorsPerFat32 = le32(b, 36);
    p.rootCluster = le32(b, 44);
    return p;
}

bool isSoundBpb(const BiosParameterBlock& b) {
    return powerOfTwo(b.bytesPerSector) && b.bytesPerSector >= 512 && b.bytesPerSector <= 4096 &&
           powerOfTwo(b.sectorsPerCluster) && b.reservedSectors >= 1 && b.fatCount >= 1 && b.fatCount <= 2 &&
           b.totalSectors > 0;
}

std::optional<FatLayout> fatLayout(ByteView boot) {
    if (boot.size() < 512) return std::nullopt;
    // A short jump over the block (EB xx 90) or a near jump (E9).
    if (!((boot[0] == 0xEB && boot[2] == 0x90) || boot[0] == 0xE9)) return std::nullopt;
    const BiosParameterBlock b = decodeBpb(boot);
    if (!isSoundBpb(b)) return std::nullopt;
    if (b.media != 0xF0 && b.media < 0xF8) return std::nullopt;
    const bool fat32 = b.sectorsPerFat16 == 0;
    const std::uint64_t perFat = fat32 ? b.sectorsPerFat32 : b.sectorsPerFat16;
    if (perFat == 0) return std::nullopt;
    if (fat32 && (b.rootEntries != 0 || b.rootCluster < 2)) return std::nullopt;
    if (!fat32 && b.rootEntries == 0) return std::nullopt;
    const std::uint64_t rootSectors = (std::uint64_t(b.rootEntries) * 32 + b.bytesPerSector - 1) / b.bytesPerSector;
    const std::uint64_t meta = b.reservedSectors + b.fatCount * perFat + rootSectors;
    if (meta >= b.totalSectors) return std::nullopt;
    const std::uint64_t clusters = (b.totalSectors - meta) / b.sectorsPerCluster;
    if (clusters == 0) return std::nullopt;
    FatLayout l;
    unsigned bits;
    if (fat32) {
        l.kind = BootKind::Fat32, l.fileSystem = u"FAT32", bits = 32;
    } else if (clusters < 4085) {
        l.kind = BootKind::Fat12, l.fileSystem = u"FAT12", bits = 12;
    } else if (clusters < 65525) {
        l.kind = BootKind::Fat16, l.fileSystem = u"FAT16", bits = 16;
    } else {
        return std::nullopt;  // a FAT16-style block with more clusters than 16 bits can number
    }
    // The FAT must hold an entry for every cluster and the two reserved ones.
    if (perFat * b.bytesPerSector * 8 < (clusters + 2) * bits) return std::nullopt;
    l.clusters = clusters;
    l.sectors = b.totalSectors * (b.bytesPerSector / 512);
    return l;
}

std::optional<std::uint64_t> extVolumeSectors(ByteView sb) {
    if (sb.size() < 512 || le16(sb, 56) != 0xEF53) return std::nullopt;
    const std::uint32_t logBlock = le32(sb, 24);
    if (logBlock > 6) return std::nullopt;  // 1 KiB << 6 = 64 KiB
    const std::uint64_t blockSize = 1024ull << logBlock;
    if (le32(sb, 20) != (blockSize == 1024 ? 1u : 0u)) return std::nullopt;
    if (le16(sb, 90) != 0) return std::nullopt;  // a backup: it names its group
    const std::uint32_t perGroup = le32(sb, 32);
    if (perGroup == 0 || perGroup > blockSize * 8 || le32(sb, 0) == 0 || le32(sb, 40) == 0) return std::nullopt;
    std::uint64_t blocks = le32(sb, 4);
    if (le32(sb, 96) & 0x80) blocks |= std::uint64_t(le32(sb, 0x150)) << 32;  // 64-bit block numbers
    if (blocks == 0 || blocks > UINT64_MAX / blockSize) return std::nullopt;
    return blocks * (blockSize / 512);
}

BootSignature classifyBootSector(ByteView v, std::int64_t sector) {
    BootSignature s;
    if (v.size() < 512) return s;
    s.volumeStartSector = sector;
    if (v[0] == 0xEB) {
        if (v[1] == 0x52) {
            if (!bytesAre(v, 3, "NTFS") || le16(v, 11) != 512) return s;
            const std::uint64_t total = le64(v, 40);
            s.kind = BootKind::Ntfs;
            s.fileSystem = u"NTFS";
            // Total sectors excludes the backup boot sector in the volume's
            // last sector; the volume covers one sector more.
            s.sizeBytes = clampedBytes(total);
            s.volumeSectors = total >= std::uint64_t(INT64_MAX) ? INT64_MAX : std::int64_t(total) + 1;
            s.sizeText = megabytes(s.sizeBytes, "%lld   MB");
            return s;
        }
        if (bytesAre(v, 3, "EXFA")) {
            if (!fatJump(v[1])) return s;
            const std::uint64_t sectors = le64(v, 72);
            s.kind = BootKind::Exfat;
            s.fileSystem = u"FAT64";
            s.statusWords = u"found FAT 64...";
            s.sizeBytes = clampedBytes(sectors);
            s.volumeSectors = clampedSectors(sectors);
            s.sizeText = megabytes(s.sizeBytes, "%lld  MB");
            return s;
        }
        if (fatJump(v[1]) && bytesAre(v, 3, "MSDO")) {
            const std::uint16_t sectorsPerFat = le16(v, 22);
            std::uint64_t sectors;
            if (sectorsPerFat == 0) {
                s.kind = BootKind::Fat32;
                s.fileSystem = u"FAT32";
                s.statusWords = u"found FAT 32...";
                sectors = le32(v, 32);
            } else if (sectorsPerFat == 200 || sectorsPerFat == 256 || sectorsPerFat == 128) {
                s.kind = BootKind::Fat16;
                s.fileSystem = u"FAT16";
                s.statusWords = u"found FAT 16...";
                sectors = le16(v, 19);
                if (sectors == 0) sectors = le32(v, 32);
            } else {
                // Other FAT lengths are taken when the block's structure
                // holds together; otherwise the match stays unlisted.
                if (const auto l = fatLayout(v)) return fromLayout(*l, sector);
                s.kind = BootKind::FatOther;
                s.fileSystem = u"UNKNOWN";
                s.statusWords = u"found unknown...";
                return s;
            }
            s.sizeBytes = sectors * 512;
            s.volumeSectors = std::int64_t(sectors);
            s.sizeText = megabytes(s.sizeBytes, "%lld  MB");
            return s;
        }
    }
    // FAT volumes formatted by other systems (mkfs.fat, cameras, phones)
    // name themselves otherwise: their boot sector's structure tells them.
    if (v[0] == 0xEB || v[0] == 0xE9) {
        if (const auto l = fatLayout(v)) return fromLayout(*l, sector);
        return s;
    }
    // HFS+ volume header and ext superblock: 1024 bytes into their volume.
    // One in the image's first two sectors would put the volume before the image.
    if (sector < 2) return s;
    if (v[0] == 'H' && v[1] == '+' && v[2] == 0x00) {
        const std::uint64_t size = std::uint64_t(be32(v, 40)) * be32(v, 44);
        s.kind = BootKind::HfsPlus;
        s.fileSystem = u"HFS+";
        s.statusWords = u"found HFS+...";
        s.sizeBytes = size;
        s.volumeStartSector = sector - 2;
        s.volumeSectors = std::int64_t(size / 512);
        s.sizeText = megabytes(size, "%lld  MB");
        return s;
    }
    if (const auto sectors = extVolumeSectors(v)) {
        s.kind = BootKind::Ext;
        s.fileSystem = u"extX";
        s.statusWords = u"found extx...";
        s.volumeStartSector = sector - 2;
        s.sizeBytes = clampedBytes(*sectors);
        s.volumeSectors = clampedSectors(*sectors);
        s.sizeText = megabytes(s.sizeBytes, "%lld  MB");
    }
    return s;
}

std::optional<VolumeIdentity> identifyVolume(ByteView head) {
    if (head.size() < 2048) return std::nullopt;
    ByteView boot = head.sub(0, 512);
    const BootSignature b = classifyBootSector(boot, 0);
    switch (b.kind) {
        case BootKind::Ntfs:
        case BootKind::Exfat:
        case BootKind::Fat12:
        case BootKind::Fat16:
        case BootKind::Fat32: {
            // An "MSDOS" block whose FAT length the table above knows is
            // still told FAT12/16/32 by its structure when that holds.
            if (b.kind == BootKind::Fat16 || b.kind == BootKind::Fat32)
                if (const auto l = fatLayout(boot)) return VolumeIdentity{l->fileSystem, l->sectors};
            return VolumeIdentity{b.fileSystem, std::uint64_t(b.volumeSectors)};
        }
        default: break;
    }
    // A sector 0 holding a partition table makes the image a disk, even when
    // the sectors behind it happen to hold a superblock.
    if (le16(boot, 510) == 0xAA55)
        for (std::size_t i = 0; i < 4; ++i)
            if (boot[446 + 16 * i + 4] != 0) return std::nullopt;
    ByteView sb = head.sub(1024, 1024);
    if (const auto sectors = extVolumeSectors(sb)) return VolumeIdentity{u"extX", *sectors};
    if (isHfsPlusHeader(sb)) {
        const std::uint64_t bytes = std::uint64_t(be32(sb, 40)) * be32(sb, 44);
        return VolumeIdentity{u"HFS+", bytes / 512};
    }
    return std::nullopt;
}

std::u16string fileSystemAt(readWriteInterface& source, std::int64_t startSector) {
    std::vector<std::uint8_t> buf(2048, 0);
    const std::int64_t saved = source.baseOffset;
    source.baseOffset = 0;
    std::int64_t offset;
    const bool ok = !__builtin_mul_overflow(startSector, kSectorBytes, &offset) &&
                    readAt(source, offset, buf.data(), std::uint32_t(buf.size()));
    source.baseOffset = saved;
    if (!ok) return u"Unknown";
    const auto id = identifyVolume(ByteView(buf));
    return id ? id->fileSystem : u"Unknown";
}

}  // namespace salvage
