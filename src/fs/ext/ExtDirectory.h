#pragma once
// Walking the entries of one directory block, in either layout: with the
// file-type byte (name length u8 at 6, type u8 at 7) or without (name length
// u16 at 6).
#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/ByteView.h"

namespace salvage::ext {

inline constexpr std::uint8_t kFileTypeRegular = 1;
inline constexpr std::uint8_t kFileTypeDirectory = 2;
// Names longer than this end an untyped block's walk (ext names are at most
// 255 bytes; the untyped length field could claim up to 65535).
inline constexpr std::uint16_t kMaxUntypedNameLength = 1024;

struct DirEntry {
    std::uint32_t inode = 0;
    std::uint8_t fileType = 0;  // typed layout only
    std::string_view name;
};

// Calls typeSeen for every typed entry before the stop tests (so a stopping
// entry still sets its inode's type), then visit for each entry the walk
// does not stop on. entryCount bounds the inode numbers of typed entries.
void walkDirectoryBlock(ByteView block, bool typed, std::uint32_t entryCount,
                        const std::function<void(std::uint32_t inode, std::uint8_t type)>& typeSeen,
                        const std::function<void(const DirEntry&)>& visit);

}  // namespace salvage::ext
