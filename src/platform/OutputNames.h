#pragma once
// Host names for entries of an image inside an output folder. A name from an
// image never leaves the folder: separators and NULs become '_', "." and
// ".." (and an empty name) become "_", and surrounding blanks are dropped.
#include <filesystem>
#include <string>

namespace salvage {

std::u16string safeOutputName(const std::u16string& name);
std::filesystem::path safeOutputPath(const std::filesystem::path& folder, const std::u16string& name);

// The host's longest name, in bytes.
inline constexpr std::size_t kMaxHostNameBytes = 255;
// A name longer than the host allows, cut at a character boundary to 240
// bytes with "~" and eight hex digits of the whole name's hash (stable: the
// same long name always gives the same host name), a short extension kept.
// Shorter names are returned as they are.
std::string fitHostName(const std::string& name);
// The host file name for a name from an image: safeOutputName, in UTF-8,
// made to fit (fitHostName).
std::string hostFileName(const std::u16string& name);

// The host name for a file's named data stream listed as "file:stream":
// "file_stream". A ':' is legal in Linux names, but Windows hosts and their
// tools read it as a stream separator. Other names are returned as they are;
// the result still goes through hostFileName.
std::u16string streamHostName(const std::u16string& entryName, const std::u16string& stream);

// "name (n).ext" for the n-th entry of one name in a folder: the number goes
// before the last extension ("a.tar.gz" -> "a.tar (2).gz"); a leading dot
// does not start an extension (".profile" -> ".profile (2)").
std::string numberedName(const std::string& fileName, int n);

}  // namespace salvage
