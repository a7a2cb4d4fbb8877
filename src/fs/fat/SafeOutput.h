#pragma once
// The host path for a record's name inside an output folder. The name never
// leaves the folder: separators and NULs become '_', "." and ".." (and an
// empty name) become "_", and surrounding blanks are dropped.
#include <filesystem>
#include <string>

namespace salvage::fat {
std::filesystem::path safeOutputPath(const std::filesystem::path& folder, const std::u16string& name);
}  // namespace salvage::fat
