#include "volumes/Partition.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ByteView.h"
#include "platform/Text.h"
#include "volumes/BootSignature.h"

namespace salvage {

namespace {

using Sector = std::array<std::uint8_t, 512>;

int lastError() { return errno != 0 ? errno : EIO; }

bool readSector(readWriteInterface& source, std::int64_t sector, Sector& out) {
    std::int64_t offset;
    if (__builtin_mul_overflow(sector, kSectorBytes, &offset)) return false;
    return readAt(source, offset, out.data(), 512);
}

constexpr std::int64_t kMiB = 1048576;

bool jumpMatchesFat(std::uint8_t b1) { return b1 == 0x3C || b1 == 0x58 || b1 == 0x76; }

class Scan {
public:
    Scan(readWriteInterface& s, Partition& p) : source(s), scanner(p) {}

    int run() {
        source.baseOffset = 0;
        std::vector<std::uint8_t> head(1024, 0);
        errno = 0;
        bool ok = readAt(source, 0, head.data(), 1024);
        if (bareVolume()) return 0;
        if (scanner.useGpt && ok) return gpt(ByteView(head));
        return mbr();
    }

private:
    void status(const std::u16string& text) { scanner.statusLine->setStatus(text); }

    void append(std::u16string fileSystem, std::u16string sizeText, std::int64_t start, std::int64_t sectors) {
        VolumeRecord r;
        r.fileSystem = std::move(fileSystem);
        r.name = fromUtf8(std::to_string(counter++));
        r.sizeText = std::move(sizeText);
        r.startSector = start;
        r.sectors = sectors;
        scanner.page->push_back(std::move(r));
    }

    // Sector 0 that is itself a volume's boot sector or superblock makes the
    // image one bare volume (a stick or floppy dump): its boot code must not
    // be read as partition entries.
    bool bareVolume() {
        std::vector<std::uint8_t> head(2048, 0);
        if (!readAt(source, 0, head.data(), std::uint32_t(head.size()))) return false;
        const std::optional<VolumeIdentity> id = identifyVolume(ByteView(head));
        if (!id) return false;
        status(u"found " + id->fileSystem + u"...");
        append(id->fileSystem, format16("%lld   MB", (long long)(id->sectors / 2048)), 0,
               id->sectors >= std::uint64_t(INT64_MAX) ? INT64_MAX : std::int64_t(id->sectors));
        return true;
    }

    int gpt(ByteView header) {
        std::int64_t arrayLba = sle64(header, 512 + 72);
        std::vector<std::uint8_t> table(kGptReadBytes, 0);
        std::int64_t arrayOffset;
        if (__builtin_mul_overflow(arrayLba, kSectorBytes, &arrayOffset) ||
            !readAt(source, arrayOffset, table.data(), kGptReadBytes)) {
            // The entry array cannot be read: the buffer stays zeroed and the
            // first entry ends the list.
        }
        ByteView entries(table);
        struct Entry {
            std::int64_t first, last;
            std::u16string name;
            std::int64_t sectors() const { return last >= first ? last - first + 1 : -1; }
        };
        std::vector<Entry> collected;
        for (int i = 0; i < kMaxGptEntries; ++i) {
            ByteView e = entries.sub(std::size_t(i) * 128, 128);
            if (e.size() < 128) break;
            if (e[0] == 0x30 || e[1] == 0x30 || e[2] == 0x30 || e[3] == 0x30) break;
            std::int64_t first = sle64(e, 32);
            if (first <= 2) break;
            // The name is read within its 72 bytes, terminated or not.
            collected.push_back({first, sle64(e, 40), utf16leToString(e.data() + 56, 36, true)});
        }
        int ntfsCount = 0;
        for (const Entry& entry : collected) {
            Sector s{};
            errno = 0;
            bool ok = readSector(source, entry.first, s);
            if (entry.name == u"Microsoft reserved partition") continue;
            if (!ok) return lastError();
            ByteView b(s.data(), s.size());
            bool known = false;
            if (b[0] == 0xEB && b[1] == 0x52 && le16(b, 11) == 512) {
                known = true;
                std::uint64_t size = le64(b, 40) * 512;
                std::int64_t name = counter++;
                if (size >= std::uint64_t(kMiB)) {
                    status(format16("found NTFS %d...", ++ntfsCount));
                    VolumeRecord r{u"NTFS", fromUtf8(std::to_string(name)),
                                   format16("%d   MB", int(size / std::uint64_t(kMiB))), entry.first};
                    r.sectors = entry.sectors();
                    scanner.page->push_back(std::move(r));
                }
            } else if (b[0] == 0xEB && jumpMatchesFat(b[1]) && b.matches(3, "MSDO")) {
                known = true;
                std::uint16_t perFat = le16(b, 22);
                std::uint64_t size = 0;
                std::u16string fs;
                if (perFat == 0) {
                    fs = u"FAT32";
                    status(u"found FAT 32...");
                    size = std::uint64_t(le32(b, 32)) * 512;
                } else if (perFat == 200 || perFat == 256) {
                    fs = u"FAT16";
                    status(u"found FAT 16...");
                    std::uint64_t small = le16(b, 19);
                    size = (small ? small : le32(b, 32)) * 512ULL;
                } else if (const auto l = fatLayout(b)) {
                    fs = l->fileSystem;
                    status(u"found " + fs + u"...");
                    size = l->sectors * 512;
                } else {
                    fs = u"UNKNOWN";
                    status(u"found unknown...");
                }
                appendSized(fs, size, entry.first, entry.sectors());
            } else if (b[0] == 0xEB && jumpMatchesFat(b[1]) && b.matches(3, "EXFA")) {
                known = true;
                status(u"found FAT 64...");
                appendSized(u"FAT64", le64(b, 72) * 512, entry.first, entry.sectors());
            }
            if (known) {
                if (scanner.stopRequested.load()) break;
                continue;
            }
            // Other partitions are named by their first sectors when those
            // tell a file system (ext, FAT by structure), else by the entry.
            std::u16string fs = fileSystemAt(source, entry.first);
            if (fs == u"Unknown") fs = isHfsPlusVolume(source, entry.first) ? std::u16string(u"HFS+") : entry.name;
            append(fs, format16("%lld", (long long)((entry.last - entry.first) / 2048)), entry.first,
                   entry.sectors());
        }
        return 0;
    }

    void appendSized(const std::u16string& fs, std::uint64_t size, std::int64_t start, std::int64_t sectors) {
        if (size < std::uint64_t(kMiB)) return;
        append(fs, format16("%lld  MB", (long long)(size / std::uint64_t(kMiB))), start, sectors);
    }

    // File system and status text of a partition type; `logical` selects the
    // extended-chain variants.
    void classify(std::uint8_t type, std::int64_t start, bool logical, std::u16string& fs) {
        switch (type) {
        case 0x01: fs = u"FAT12"; break;
        case 0x04: case 0x06: case 0x0E: fs = u"FAT16"; status(u"found FAT 16..."); break;
        case 0x07:
            if (isExfatBootSector(source, start)) {
                fs = u"FAT64";
                status(u"found FAT64...");
            } else {
                fs = u"NTFS";
                ++ntfsCount_;
                status(logical ? std::u16string(u"found NTFS...") : format16("found NTFS %d...", ntfsCount_));
            }
            break;
        case 0x0B: case 0x0C: fs = u"FAT32"; status(u"found FAT 32..."); break;
        case 0x42:
            if (logical) {
                fs = u"Unknown";
                status(u"found UNKNOWN...");
            } else {
                fs = u"NTFS";
                status(u"NTFS...");
            }
            break;
        case 0x83: fs = u"extX"; status(logical ? u"found extx..." : u"found ext2..."); break;
        default: fs = u"Unknown"; status(u"found UNKNOWN..."); break;
        }
        // The type byte says FAT; the boot sector tells which width.
        if (fs == u"FAT12" || fs == u"FAT16" || fs == u"FAT32") {
            const std::u16string told = fileSystemAt(source, start);
            if (told == u"FAT12" || told == u"FAT16" || told == u"FAT32") fs = told;
        }
    }

    int mbr() {
        Sector s{};
        errno = 0;
        if (!readSector(source, 0, s)) return lastError();
        ByteView b(s.data(), s.size());
        std::int64_t extendedBase = -1;
        for (int i = 0; i < 4; ++i) {
            ByteView e = b.sub(446 + 16 * std::size_t(i), 16);
            std::uint8_t type = e[4];
            if (type == 0x00) break;
            if (type == 0x05 || type == 0x0F) {
                extendedBase = le32(e, 8);
                break;
            }
            std::int64_t start = le32(e, 8);
            std::u16string fs;
            classify(type, start, false, fs);
            append(fs, format16("%lld   MB", (long long)(le32(e, 12) / 2048)), start, le32(e, 12));
        }
        if (extendedBase < 0) return 0;

        std::int64_t ebrRelative = 0;  // this EBR's start relative to the extended base
        for (int n = 0; n < kMaxExtendedBootRecords; ++n) {
            if (scanner.stopRequested.load()) break;
            errno = 0;
            if (!readSector(source, extendedBase + ebrRelative, s)) return lastError();
            ByteView ebr(s.data(), s.size());
            bool linked = false, ended = false;
            std::int64_t next = 0;
            for (int i = 0; i < 4; ++i) {
                ByteView e = ebr.sub(446 + 16 * std::size_t(i), 16);
                std::uint8_t type = e[4];
                if (type == 0x00) {
                    ended = true;
                    break;
                }
                if (type == 0x05 || type == 0x0F) {
                    next = le32(e, 8);
                    linked = true;
                    break;
                }
                std::int64_t start = extendedBase + ebrRelative + std::int64_t(le32(e, 8));
                std::u16string fs;
                classify(type, start, true, fs);
                append(fs, format16("%d   MB", int(le32(e, 12) / 2048)), start, le32(e, 12));
            }
            if (ended || !linked) break;
            ebrRelative = next;
        }
        return 0;
    }

    readWriteInterface& source;
    Partition& scanner;
    int counter = 0;
    int ntfsCount_ = 0;
};

}  // namespace

int scanPartitionTables(readWriteInterface& source, Partition& scanner) {
    Scan scan(source, scanner);
    const std::size_t before = scanner.page->size();
    const int rc = scan.run();
    // Entries that a table names but the image does not hold (a truncated
    // image, a table of another disk) are marked, not offered as real.
    const std::int64_t imageSectors = source.totalSectors();
    for (std::size_t i = before; i < scanner.page->size(); ++i)
        (*scanner.page)[i].fit = fitInImage((*scanner.page)[i], imageSectors);
    return rc;
}

bool isExfatBootSector(readWriteInterface& source, std::int64_t startSector) {
    Sector s{};
    if (!readSector(source, startSector, s)) return false;
    ByteView b(s.data(), s.size());
    return b[0] == 0xEB && jumpMatchesFat(b[1]) && b.matches(3, "EXFA");
}

bool isHfsPlusVolume(readWriteInterface& source, std::int64_t startSector) {
    Sector s{};
    std::int64_t sector;
    if (__builtin_add_overflow(startSector, 2, &sector) || !readSector(source, sector, s)) return false;
    return s[0] == 'H' && s[1] == '+' && s[2] == 0x00;
}

}  // namespace salvage
