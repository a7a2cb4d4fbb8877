#pragma once
// Timeline rows in the body format that timeline tools read:
//   MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime
// one line per entry, times in whole UNIX seconds and 0 where unknown.
#include <cstdint>
#include <optional>
#include <string>

#include "browse/VolumeParser.h"

namespace salvage {

struct BodyfileEntry {
    std::string md5;        // lower-case hex; empty writes "0" (not computed)
    std::u16string path;    // from the volume root: "/dir/file"
    bool deleted = false;   // the name gets " (deleted)"
    bool directory = false;
    std::int64_t inode = 0;
    std::uint64_t size = 0;
    RecordMeta meta;
};

// "ROOT\dir\file" as the browse tree names it, as "/dir/file".
std::u16string bodyfilePath(std::u16string_view volumePath);

// "r/rrw-r--r--": the entry's type (as the name and as the record), then
// the nine permission bits with set-id and sticky marks. Without a mode the
// type comes from `directory` and every permission is granted, as file
// systems without permissions are shown.
std::string bodyfileMode(std::optional<std::uint32_t> mode, bool directory);

// One line, without its line end. Characters that would break the line or
// its fields (controls, '|') are written as '^'.
std::string bodyfileLine(const BodyfileEntry& e);

}  // namespace salvage
