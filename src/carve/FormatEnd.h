#pragma once
// Where a carved file really ends. The engine sees end signatures only at
// sector starts, so most finds run past their file; each format that
// defines its own end (a terminating marker, a closing record or a size in
// its header) is measured here from the find's first bytes.
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/ByteView.h"

namespace salvage {

// The file's length when the format of `extension` defines an end that lies
// within the find: `head` holds the find's first bytes (all of them when
// head.size() == findLength). Nothing when the format has no such end, the
// bytes do not follow the format, or the end lies beyond the find.
std::optional<std::uint64_t> formatEnd(std::u16string_view extension, ByteView head, std::uint64_t findLength);

// The end formatEnd gives for `head` when every longer head of the same
// find is sure to give the same: the formats walked front to back once
// their end shows (a ZIP's only when no end record before it could have
// had its comment cut off), the header formats once their header is in.
// Nothing when more bytes could change the answer; formatEnd decides then.
std::optional<std::uint64_t> formatEndSettled(std::u16string_view extension, ByteView head, std::uint64_t findLength);

// True for the formats that end with their last "%%EOF" in the whole find
// (pdfEnd): formatEnd gives their end only for the whole find.
bool formatEndIsLastEof(std::u16string_view extension);

// True for the formats whose end is found by reading through the file
// (markers, chunks, a closing record); the others need only their header.
bool formatEndNeedsWholeFind(std::u16string_view extension);

// Ends of single formats; each takes the whole find, or for the size-field
// formats at least its header.
std::optional<std::uint64_t> jpegEnd(ByteView data);
std::optional<std::uint64_t> pngEnd(ByteView data);
std::optional<std::uint64_t> gifEnd(ByteView data);
std::optional<std::uint64_t> pdfEnd(ByteView data);
// The end of the last "%%EOF" in `data` with the line end after it (a CR,
// an LF or both), from data's start; `data` may be any stretch of a find.
std::optional<std::uint64_t> pdfEofEnd(ByteView data);
std::optional<std::uint64_t> zipEnd(ByteView data);
std::optional<std::uint64_t> tiffEnd(ByteView data);
std::optional<std::uint64_t> gzipEnd(ByteView data);
std::optional<std::uint64_t> bmpEnd(ByteView head);
std::optional<std::uint64_t> riffEnd(ByteView head);
std::optional<std::uint64_t> sevenZipEnd(ByteView head);
std::optional<std::uint64_t> sqliteEnd(ByteView head);

}  // namespace salvage
