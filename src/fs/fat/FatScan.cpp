#include "fs/fat/FatScan.h"

#include <algorithm>

#include "image/ChunkedScan.h"
#include "platform/Text.h"

namespace salvage::fat {

namespace {

bool matchesFat(ByteView s, FatKind kind) {
    const std::uint32_t a = le32(s, 0), b = le32(s, 4);
    switch (kind) {
        case FatKind::Fat16: return a == 0xFFFFFFF8;
        case FatKind::Fat32: return a == 0x0FFFFFF8 && (b == 0xFFFFFFFF || b == 0x0FFFFFFF);
        case FatKind::ExFat: return a == 0xFFFFFFF8 && b == 0xFFFFFFFF;
        case FatKind::Fat12: return (s[0] == 0xF0 || s[0] >= 0xF8) && s[1] == 0xFF && s[2] == 0xFF;
    }
    return false;
}

bool inRange(std::uint8_t c, std::uint8_t lo, std::uint8_t hi) { return c >= lo && c <= hi; }
bool isDigit(std::uint8_t c) { return inRange(c, '0', '9'); }
// Class A: 'A'..'[', 'a'..'z', digits, 0xE5, '~'.
bool classA(std::uint8_t c) { return inRange(c, 0x41, 0x5B) || inRange(c, 'a', 'z') || isDigit(c) || c == 0xE5 || c == '~'; }
// Class B: 'A'..'[', 'a'..'z', digits, blank, '~', '.', ')', 0xE5.
bool classB(std::uint8_t c) {
    return inRange(c, 0x41, 0x5B) || inRange(c, 'a', 'z') || isDigit(c) || c == ' ' || c == '~' || c == '.' ||
           c == ')' || c == 0xE5;
}
// FAT32's letter ranges: 0x41..0x5B and 0x5F..0x7A.
bool fat32First(std::uint8_t c) { return inRange(c, 0x41, 0x5B) || inRange(c, 0x5F, 0x7A) || isDigit(c) || c == 0xE5 || c == '~'; }
bool fat32Second(std::uint8_t c) {
    return inRange(c, 0x41, 0x5B) || inRange(c, 0x5F, 0x7A) || isDigit(c) || c == ' ' || c == '~' || c == '.' ||
           c == ')' || c == 0xE5 || c == '_';
}

bool dateValid(std::uint16_t d) {
    const unsigned day = d & 0x1F, month = (d >> 5) & 0x0F;
    return day != 0 && month >= 1 && month <= 12;
}
bool timeValid(std::uint16_t t) { return (t >> 11) < 24 && ((t >> 5) & 0x3F) < 60 && (t & 0x1F) < 30; }
bool datesAndTimesValid(ByteView e) {
    return dateValid(le16(e, 24)) && dateValid(le16(e, 16)) && dateValid(le16(e, 18)) && timeValid(le16(e, 14)) &&
           timeValid(le16(e, 22));
}
std::uint32_t firstCluster(ByteView e) { return (std::uint32_t(le16(e, 20)) << 16) | le16(e, 26); }
bool isFolderAttr(std::uint8_t a) { return a == 0x10 || a == 0x11 || a == 0x12 || a == 0x14 || a == 0x15 || a == 0x16 || a == 0x30; }

}  // namespace

void seekSectors(readWriteInterface& src, std::int64_t volumeBytes, std::initializer_list<SectorSeeker*> seekers,
                 Pollable& poll, Reporter& reporter, bool blockStatus) {
    std::vector<SectorSeeker*> active(seekers);
    ChunkedScanOptions o;
    o.end = volumeBytes;
    o.overlapBytes = kSectorBytes;
    o.poll = &poll;
    o.progress = &reporter;
    const ChunkedScanResult r = chunkedScan(src, o, [&](const ScanChunk& chunk) -> std::int64_t {
        if (blockStatus)
            reporter.setStatus(format16("Parsing Disk Currently at position %f of the disk of size %f",
                                        double(chunk.offset), double(volumeBytes)));
        const std::int64_t last = std::min(chunk.limit, volumeBytes);
        for (std::int64_t at = chunk.offset; at < last; at += kSectorBytes) {
            const ByteView sector =
                chunk.bytes.sub(std::size_t(at - chunk.offset), std::size_t(std::min(kSectorBytes, volumeBytes - at)));
            for (std::size_t k = 0; k < active.size();)
                if (active[k]->see(at, sector)) ++k;
                else active.erase(active.begin() + std::ptrdiff_t(k));
            if (active.empty()) return kScanStop;
        }
        return chunk.limit;
    });
    if (r.stopped) poll.stopRequested = false;
}

FatStartSeeker::FatStartSeeker(FatKind kind, std::int64_t max, Reporter& reporter)
    : kind_(kind), max_(max <= 0 ? kDefaultCandidates : max), reporter_(reporter) {}

bool FatStartSeeker::see(std::int64_t at, ByteView sector) {
    // Only boundaries whose first 8 bytes lie inside the volume count.
    if (sector.size() < 8 || !matchesFat(sector, kind_)) return true;
    found.push_back(at);
    reporter_.setStatus(format16("found fat entry  %d ", int(found.size())));
    return std::int64_t(found.size()) < max_;
}

HeapStartSeeker::HeapStartSeeker(std::int64_t max) : max_(max <= 0 ? kDefaultCandidates : max) {}

bool HeapStartSeeker::see(std::int64_t at, ByteView sector) {
    if (sector.size() < 8 || le64(sector, 0) != UINT64_MAX) return true;
    found.push_back(at);
    return std::int64_t(found.size()) <= max_;
}

std::vector<std::int64_t> findFatStarts(readWriteInterface& src, std::int64_t volumeBytes, FatKind kind,
                                        std::int64_t max, Pollable& poll, Reporter& reporter) {
    FatStartSeeker fats(kind, max, reporter);
    seekSectors(src, volumeBytes, {&fats}, poll, reporter, kind == FatKind::Fat32);
    return std::move(fats.found);
}

std::vector<std::int64_t> findHeapStarts(readWriteInterface& src, std::int64_t volumeBytes, std::int64_t max,
                                         Pollable& poll, Reporter& reporter) {
    HeapStartSeeker heaps(max);
    seekSectors(src, volumeBytes, {&heaps}, poll, reporter);
    return std::move(heaps.found);
}

// A volume-label slot that owns clusters (a file hidden as the label).
static bool isLabelWithDataHit(ByteView e, std::uint64_t n) {
    const std::uint32_t c = firstCluster(e);
    return classA(e[0]) && classB(e[1]) && (e[12] == 0 || e[12] == 0x18) && c >= 2 && c < n && le32(e, 28) != 0 &&
           datesAndTimesValid(e);
}

bool isFat16EntryHit(ByteView e, std::uint64_t n) {
    if (!e.has(0, 32)) return false;
    const std::uint8_t a = e[11], b0 = e[0], b1 = e[1];
    if (a == 0x08) return isLabelWithDataHit(e, n);
    if (a == 0x0F) return e[12] == 0 && e[26] == 0 && (b0 == 0xE5 ? classB(b1) : (classB(b1) || b1 == '_'));
    if (isFolderAttr(a)) {
        if (!(classA(b0) || b0 == '$') || !classB(b1)) return false;
        if (b0 == 0xE5) return datesAndTimesValid(e);
        const std::uint32_t c = firstCluster(e);
        return le32(e, 28) == 0 && c != 0 && c < n && datesAndTimesValid(e);
    }
    if (a == 0x20 || a == 0x26)
        return classA(b0) && classB(b1) && (e[12] == 0 || e[12] == 0x18) && firstCluster(e) < n && datesAndTimesValid(e);
    return false;
}

bool isFat32EntryHit(ByteView e, std::uint64_t n) {
    if (!e.has(0, 32)) return false;
    const std::uint8_t a = e[11], b0 = e[0], b1 = e[1];
    if (a == 0x08) return isLabelWithDataHit(e, n);
    if (a == 0x0F) return (classB(b1) || b1 == '_' || b1 == ',') && e[12] == 0 && le16(e, 26) == 0;
    const bool folder = isFolderAttr(a);
    if (!folder && a != 0x20) return false;
    if (!(fat32First(b0) || (folder && b0 == '$')) || !fat32Second(b1)) return false;
    const std::uint32_t c = firstCluster(e);
    if (c < 1 || c >= n) return false;
    const bool stamped = e[13] != 0 && le16(e, 16) && le16(e, 18) && le16(e, 24) && le16(e, 14) && le16(e, 22);
    if (!stamped || !datesAndTimesValid(e)) return false;
    if (folder) return b0 == 0xE5 || le32(e, 28) == 0;
    return (e[12] == 0 || e[12] == 0x18) && le32(e, 28) != 0;
}

bool isFat32RootMark(ByteView e) {
    if (!e.has(0, 32)) return false;
    if (e[11] != 0x08 && !e.matches(1, "RECYCLE")) return false;
    const std::uint8_t b0 = e[0], b1 = e[1];
    const bool first = inRange(b0, 'A', 'Z') || inRange(b0, 'a', 'z') || isDigit(b0) || b0 == 0xE5 || b0 == '~' || b0 == '$';
    const bool second = inRange(b1, 'A', 'Z') || inRange(b1, 'a', 'z') || isDigit(b1) || b1 == ' ' || b1 == '~' ||
                        b1 == '.' || b1 == ')' || b1 == 0xE5;
    return first && second && (e[12] == 0 || e[12] == 0x18) && e[28] == 0;
}

std::int64_t heapFromDotEntries(ByteView s, std::int64_t off, std::uint32_t clusterBytes, std::uint64_t clusterCount) {
    if (!s.has(0, 64) || clusterBytes == 0) return -1;
    if (!s.matches(0, ".          ") || !s.matches(32, "..         ")) return -1;
    if (!(s[11] & 0x10) || !(s[43] & 0x10)) return -1;
    const std::uint32_t c = firstCluster(s);
    if (c < 2 || c >= clusterCount) return -1;
    const std::int64_t heap = off - std::int64_t(c - 2) * clusterBytes;
    return heap >= 0 ? heap : -1;
}

bool isExFatSetHit(ByteView dir, std::size_t off) {
    if (!dir.has(off, 64)) return false;
    ByteView f = dir.sub(off, 32), s = dir.sub(off + 32, 32);
    if (f[0] != 0x85 && f[0] != 0x05) return false;
    const std::uint8_t a = f[4];
    if (!(a == 0x10 || a == 0x11 || a == 0x12 || a == 0x13 || a == 0x15 || a == 0x20 || a == 0x30)) return false;
    if (f[5] != 0 || le16(f, 6) != 0) return false;
    for (std::size_t i = 25; i < 32; ++i)
        if (f[i] != 0) return false;
    if ((s[0] != 0xC0 && s[0] != 0x40) || s[2] != 0 || le16(s, 6) != 0 || le32(s, 16) != 0) return false;
    if (s[1] != 1 && s[1] != 3) return false;
    const std::size_t names = (std::size_t(s[3]) + 14) / 15;
    if (names == 0) return false;
    for (std::size_t k = 0; k < names; ++k) {
        const std::size_t at = off + 64 + 32 * k;
        if (!dir.has(at, 32) || (dir[at] != 0xC1 && dir[at] != 0x41) || dir[at + 1] > 3) return false;
    }
    return true;
}

}  // namespace salvage::fat
