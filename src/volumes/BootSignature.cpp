#include "volumes/BootSignature.h"

#include <cstring>

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

std::u16string megabytes(std::uint64_t bytes, const char* format) {
    return format16(format, (long long)(bytes / kMiB));
}
}  // namespace

bool BootSignature::listed() const {
    if (kind == BootKind::None || kind == BootKind::FatOther || sizeBytes < kMiB) return false;
    return kind != BootKind::HfsPlus || sizeBytes / kMiB <= kMaxHfsMiB;
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
            s.sizeBytes = total > (UINT64_MAX / 512) ? UINT64_MAX : total * 512;
            s.volumeSectors = total >= std::uint64_t(INT64_MAX) ? INT64_MAX : std::int64_t(total) + 1;
            s.sizeText = megabytes(s.sizeBytes, "%lld   MB");
            return s;
        }
        if (!fatJump(v[1])) return s;
        if (bytesAre(v, 3, "MSDO")) {
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
        if (bytesAre(v, 3, "EXFA")) {
            const std::uint64_t sectors = le64(v, 72);
            s.kind = BootKind::Exfat;
            s.fileSystem = u"FAT64";
            s.statusWords = u"found FAT 64...";
            s.sizeBytes = sectors > (UINT64_MAX / 512) ? UINT64_MAX : sectors * 512;
            s.volumeSectors = sectors >= std::uint64_t(INT64_MAX) ? INT64_MAX : std::int64_t(sectors);
            s.sizeText = megabytes(s.sizeBytes, "%lld  MB");
        }
        return s;
    }
    // HFS+ volume header: 1024 bytes into its volume. A header in the image's
    // first two sectors would put the volume before the image.
    if (v[0] == 'H' && v[1] == '+' && v[2] == 0x00 && sector >= 2) {
        const std::uint64_t size = std::uint64_t(be32(v, 40)) * be32(v, 44);
        s.kind = BootKind::HfsPlus;
        s.fileSystem = u"HFS+";
        s.statusWords = u"found HFS+...";
        s.sizeBytes = size;
        s.volumeStartSector = sector - 2;
        s.volumeSectors = std::int64_t(size / 512);
        s.sizeText = megabytes(size, "%lld  MB");
    }
    return s;
}

}  // namespace salvage
