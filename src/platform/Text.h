#pragma once
// Text conversion at the edges: names and UI texts are UTF-16 inside the
// core, host paths and terminal output UTF-8.
#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace salvage {

std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);
// ASCII/UTF-8 literal to UTF-16, for the system's own texts.
inline std::u16string u16(std::string_view text) { return fromUtf8(text); }

// The host's stand-in for the Windows ANSI code page: bytes that are valid
// UTF-8 decode as UTF-8, anything else as Windows-1252.
std::u16string ansiToUtf16(std::string_view bytes);
std::string utf16ToAnsi(std::u16string_view text);
bool isValidUtf8(std::string_view bytes);

// UTF-16LE bytes from disk (count code units), stopping early at a NUL when
// stopAtNul is set. Unpaired surrogates are kept as they are.
std::u16string utf16leToString(const std::uint8_t* bytes, std::size_t units, bool stopAtNul = false);

// printf-style formatting into UTF-16, for the system's fixed message formats
// such as "%d   MB". Arguments follow C's printf rules (narrow %s only).
std::u16string format16(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A CSV cell (RFC 4180): quoted when it holds a comma, quote or line
// break; a leading =, +, - or @ gets a single quote before it so no
// spreadsheet takes the cell for a formula.
std::string csvCell(const std::string& s);

std::string formatNarrow(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Bytes as lower-case hex digits, two per byte (digests, identifiers).
std::string hexLower(const std::uint8_t* bytes, std::size_t count);

// Case-insensitive comparison of ASCII letters only (A-Z match a-z).
bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);

std::filesystem::path pathFromUtf16(std::u16string_view text);
std::u16string pathToUtf16(const std::filesystem::path& path);

}  // namespace salvage
