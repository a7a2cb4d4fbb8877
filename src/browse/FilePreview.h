#pragma once
// The first bytes of a file of the parsed volume, for a preview before the
// file is saved. Bounded: files larger than the bound are not read at all.
#include <cstddef>
#include <cstdint>
#include <string>

#include "browse/VolumeParser.h"

namespace salvage {

// Files up to this size can be previewed.
inline constexpr std::uint64_t kPreviewFileLimit = 32ull << 20;

struct FileHead {
    enum class Result { Read, TooLarge, NotAFile, Failed };
    Result result = Result::Failed;
    std::string bytes;            // at most the asked number, from offset 0
    std::uint64_t fileSize = 0;   // the size the record gives
};

// Reads up to maxBytes from the start of the file. The parser must not be
// in use by a job meanwhile.
FileHead readFileHead(VolumeParser& parser, RecordId id, std::size_t maxBytes);

}  // namespace salvage
