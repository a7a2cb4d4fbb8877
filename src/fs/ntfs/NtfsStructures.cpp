#include "fs/ntfs/NtfsStructures.h"

#include <algorithm>

#include "platform/Text.h"

namespace salvage::ntfs_disk {

std::uint64_t BootSector::clusterBytes() const {
    if (bytesPerSector < 256 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1))) return 0;
    const std::uint64_t b = sectorsPerCluster * bytesPerSector;
    return b == 0 || b > kMaxClusterBytes ? 0 : b;
}

BootSector decodeBootSector(ByteView s) {
    BootSector b;
    b.isNtfs = s.matches(3, "NTFS");
    b.bytesPerSector = le16(s, 11);
    const std::uint8_t spc = u8(s, 13);
    // Offset 13: clusters of 128 sectors or fewer are stored as a count;
    // larger ones as the negative power of two (0xF4 = 2^12).
    if (spc <= 0x80) b.sectorsPerCluster = spc;
    else if (256 - spc < 32) b.sectorsPerCluster = std::uint64_t(1) << (256 - spc);
    b.totalSectors = le64(s, 40);
    b.mftCluster = sle64(s, 48);
    return b;
}

Record applyFixups(ByteView raw) {
    // Every byte is written once: the record's, then zeros past a short view.
    Record r;
    const std::size_t have = std::min(raw.size(), kRecordBytes);
    raw.copyTo(0, r.data(), have);
    std::fill(r.begin() + std::ptrdiff_t(have), r.end(), std::uint8_t(0));
    const std::size_t usa = le16(raw, 4), count = le16(raw, 6);
    for (std::size_t k = 1; k < count; ++k) {
        const std::size_t target = 512 * k - 2, from = usa + 2 * k;
        if (target + 2 > kRecordBytes || from + 2 > kRecordBytes) break;
        r[target] = r[from];
        r[target + 1] = r[from + 1];
    }
    return r;
}

RecordHeader decodeRecordHeader(ByteView rec) {
    RecordHeader h;
    h.valid = rec.matches(0, "FILE");
    h.flags = le16(rec, 22);
    h.baseReference = le48(rec, 32);
    h.recordNumber = le32(rec, 44);
    h.firstAttribute = le16(rec, 20);
    return h;
}

bool nextAttribute(ByteView rec, std::size_t& pos, AttrHeader& h) {
    // Each attribute is at least 16 bytes long, so the walk ends within
    // 1024 / 16 steps even on a damaged record.
    if (!rec.has(pos, 16)) return false;
    const std::uint32_t type = le32(rec, pos);
    const std::uint32_t length = le32(rec, pos + 4);
    if (type == kAttrEnd || length < 16) return false;
    ByteView a = rec.sub(pos, length);
    h = AttrHeader{};
    h.offset = pos;
    h.type = type;
    h.length = length;
    h.nonResident = u8(a, 8) != 0;
    h.nameLength = u8(a, 9);
    h.nameOffset = le16(a, 10);
    h.flags = le16(a, 12);
    if (h.nonResident) {
        h.startVcn = sle64(a, 16);
        h.lastVcn = sle64(a, 24);
        h.runListOffset = le16(a, 32);
        h.compressionUnit = le16(a, 34);
        h.allocatedSize = sle64(a, 40);
        h.realSize = sle64(a, 48);
    } else {
        h.valueLength = le32(a, 16);
        h.valueOffset = le16(a, 20);
    }
    // An attribute that runs past the record's end is the last one.
    pos = length > rec.size() - pos ? rec.size() : pos + length;
    return true;
}

std::vector<AttrHeader> walkAttributes(ByteView rec) {
    std::vector<AttrHeader> out;
    std::size_t pos = le16(rec, 20);
    AttrHeader h;
    while (nextAttribute(rec, pos, h)) out.push_back(h);
    return out;
}

ByteView residentValue(ByteView rec, const AttrHeader& a) {
    return rec.sub(a.offset, a.length).sub(a.valueOffset, a.valueLength);
}

ByteView runListBytes(ByteView rec, const AttrHeader& a) {
    return rec.sub(a.offset, a.length).sub(a.runListOffset);
}

std::u16string attributeName(ByteView rec, const AttrHeader& a) {
    // The length is one byte, so a name is at most 255 UTF-16 units.
    const ByteView name = rec.sub(a.offset, a.length).sub(a.nameOffset, std::size_t(a.nameLength) * 2);
    if (a.nameLength == 0 || name.size() != std::size_t(a.nameLength) * 2) return {};
    return utf16leToString(name.data(), a.nameLength);
}

bool decodeFileNameHeader(ByteView v, FileNameInfo& f, ByteView& nameBytes) {
    if (!v.has(0, 66)) return false;
    std::uint64_t ref = le48(v, 0);
    if (ref & (std::uint64_t(1) << 47)) ref |= 0xFFFF000000000000ull;
    f.parent = std::int64_t(ref);
    f.allocatedSize = sle64(v, 40);
    f.flags = le32(v, 56);
    const std::size_t length = u8(v, 64);
    f.nameSpace = u8(v, 65);
    // An empty name still names the record (its parent, its kind): the
    // record is listed under a placeholder rather than lost.
    if (!v.has(66, length * 2)) return false;
    nameBytes = v.sub(66, length * 2);
    return true;
}

std::optional<FileNameInfo> decodeFileName(ByteView v) {
    FileNameInfo f;
    ByteView name;
    if (!decodeFileNameHeader(v, f, name)) return std::nullopt;
    if (!name.empty()) f.name = utf16leToString(name.data(), name.size() / 2);
    return f;
}

StandardTimes decodeStandardInformation(ByteView v) {
    StandardTimes t;
    t.creation = le64(v, 0);
    t.modification = le64(v, 8);
    t.recordChange = le64(v, 16);
    t.access = le64(v, 24);
    return t;
}

std::u16string attributeLetters(std::uint32_t flags) {
    std::u16string s;
    if (flags & 0x0001) s += u"-R";
    if (flags & 0x0002) s += u"-H";
    if (flags & 0x0200) s += u"-S";
    if (flags & 0x0020) s += u"-A";
    if (flags & 0x0800) s += u"-C";
    if (flags & 0x4000) s += u"-E";
    return s;
}

std::u16string recycleBinFormerName(ByteView info) {
    std::u16string path;
    if (le64(info, 0) == 2) {
        const std::size_t length = le32(info, 24);
        ByteView name = info.sub(28, length * 2);
        path = utf16leToString(name.data(), name.size() / 2, true);
    } else {
        ByteView name = info.sub(24);
        path = utf16leToString(name.data(), name.size() / 2, true);
    }
    const auto slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace salvage::ntfs_disk
