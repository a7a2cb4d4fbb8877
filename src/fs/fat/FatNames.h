#pragma once
// Short and long directory-entry names of FAT16 and FAT32.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ByteView.h"

namespace salvage::fat {

inline constexpr std::size_t kDirEntryBytes = 32;
inline constexpr std::uint8_t kLongNameAttr = 0x0F;
inline constexpr std::uint8_t kDeletedMark = 0xE5;
// A long name spans at most 20 entries on disk; the walk collects up to 10
// (255 characters need 20, but names past 130 characters are rare and the
// rest of the collection is then taken as its own name).
inline constexpr int kMaxLongNameEntries = 10;

// The 11 name bytes as stored: the first byte widened as a signed value (so a
// deleted entry's 0xE5 reads U+FFE5), the rest through the ANSI code page,
// padding blanks kept.
std::u16string shortNameRaw(ByteView entry);
// The FAT16 file form: a dot before the last three characters, then blanks
// just before that dot removed (none are removed when blanks follow the dot).
std::u16string shortNameFile16(ByteView entry);
// The FAT32 file form: the FAT16 form without trailing blanks and dots.
std::u16string shortNameFile32(ByteView entry);

struct LongName {
    std::u16string text;
    bool deleted = false;  // the first collected entry starts with 0xE5
    std::size_t consumed = 0;  // entries taken
};
// Collects the long-name entries at offset of dir (up to kMaxLongNameEntries,
// never past the end of dir) and joins their characters, nearest entry to the
// short one first.
LongName collectLongName(ByteView dir, std::size_t offset);

}  // namespace salvage::fat
