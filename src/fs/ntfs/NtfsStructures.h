#pragma once
// Pure decoders for NTFS on-disk structures: the boot sector, the MFT record
// header with its update sequence (fix-ups), the attribute headers, and the
// $FILE_NAME and $STANDARD_INFORMATION values. Each takes a bounded byte
// view; the parser class does the reading.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteView.h"

namespace salvage::ntfs_disk {

// The record size is fixed at 1024 bytes throughout.
inline constexpr std::size_t kRecordBytes = 1024;
// Largest cluster accepted from a boot sector (NTFS allows up to 2 MiB).
inline constexpr std::uint64_t kMaxClusterBytes = 2u << 20;

inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

inline constexpr std::uint16_t kRecordInUse = 0x0001;
inline constexpr std::uint32_t kFileNameDirectory = 0x10000000;
inline constexpr std::uint8_t kNamespaceDos = 2;

using Record = std::array<std::uint8_t, kRecordBytes>;

struct BootSector {
    bool isNtfs = false;  // OEM name "NTFS" at offset 3
    std::uint16_t bytesPerSector = 0;
    std::uint64_t sectorsPerCluster = 0;  // decoded (values above 0x80 are shifts)
    std::uint64_t totalSectors = 0;
    std::int64_t mftCluster = 0;
    // sectors per cluster x bytes per sector when both are sane, else 0.
    std::uint64_t clusterBytes() const;
};
BootSector decodeBootSector(ByteView sector);

// The header test of the record scans: "FILE", and the update sequence
// offset, update sequence count and first attribute offset each below 512.
// Inline: the scans ask it at every 512 bytes of a volume.
inline bool looksLikeRecordHeader(ByteView at) {
    return at.size() >= 4 && at.data()[0] == 'F' && at.matches(0, "FILE") && le16(at, 4) < 512 &&
           le16(at, 6) < 512 && le16(at, 20) < 512;
}

// Copies a record and puts the update sequence array back at each sector's
// last two bytes. Offsets outside the record are not followed; the sequence
// number at the sector ends is not compared (a torn record is used as it is).
Record applyFixups(ByteView raw);

struct AttrHeader {
    std::size_t offset = 0;  // within the record
    std::uint32_t type = 0;
    std::uint32_t length = 0;
    bool nonResident = false;
    std::uint8_t nameLength = 0;  // 0: the unnamed stream
    std::uint16_t nameOffset = 0;
    std::uint16_t flags = 0;
    // resident
    std::uint32_t valueLength = 0;
    std::uint16_t valueOffset = 0;
    // non-resident
    std::int64_t startVcn = 0, lastVcn = 0;
    std::uint16_t runListOffset = 0;
    std::uint16_t compressionUnit = 0;
    std::int64_t allocatedSize = 0, realSize = 0;

    bool compressed() const { return (flags & 0x00FF) != 0; }
    bool encrypted() const { return (flags & 0x4000) != 0; }
};

struct RecordHeader {
    bool valid = false;  // signature "FILE"
    std::uint16_t flags = 0;
    std::uint64_t baseReference = 0;  // low 48 bits; 0 for a base record
    std::uint32_t recordNumber = 0;   // as the header stores it (may be 0 on old volumes)
    std::uint16_t firstAttribute = 0;
};
RecordHeader decodeRecordHeader(ByteView record);

// The record's attributes up to the end marker, a zero length or the end of
// the record.
std::vector<AttrHeader> walkAttributes(ByteView record);
// The same walk one attribute at a time, without collecting: pos starts at
// the record's first attribute offset (byte 20); false at the walk's end.
bool nextAttribute(ByteView record, std::size_t& pos, AttrHeader& out);
// The value of a resident attribute, clamped to the attribute.
ByteView residentValue(ByteView record, const AttrHeader& a);
// The run list bytes of a non-resident attribute, clamped to the attribute.
ByteView runListBytes(ByteView record, const AttrHeader& a);
// The attribute's name (a named $DATA attribute's stream name); empty when
// it has none or when the name does not lie whole inside the attribute.
std::u16string attributeName(ByteView record, const AttrHeader& a);

struct FileNameInfo {
    std::int64_t parent = 0;  // low 48 bits, sign-extended from bit 47
    std::int64_t allocatedSize = 0;
    std::uint32_t flags = 0;
    std::uint8_t nameSpace = 0;
    std::u16string name;
    bool isDirectory() const { return (flags & kFileNameDirectory) != 0; }
};
std::optional<FileNameInfo> decodeFileName(ByteView value);
// decodeFileName without copying the name: out.name stays empty and
// nameBytes holds the name's UTF-16LE bytes.
bool decodeFileNameHeader(ByteView value, FileNameInfo& out, ByteView& nameBytes);

struct StandardTimes {
    std::uint64_t creation = 0, modification = 0, access = 0;  // FILETIMEs as stored
    std::uint64_t recordChange = 0;                            // the MFT record's last change
};
StandardTimes decodeStandardInformation(ByteView value);

// "-R", "-H", "-S", "-A", "-C", "-E" in that order, for $FILE_NAME flags.
std::u16string attributeLetters(std::uint32_t fileNameFlags);

// The former name a Recycle Bin "$I" file holds: version 1 keeps the path
// from byte 24 to its NUL, version 2 its length at 24 and the path from 28.
// Only the part after the last '\' is returned; empty when none.
std::u16string recycleBinFormerName(ByteView info);

}  // namespace salvage::ntfs_disk
