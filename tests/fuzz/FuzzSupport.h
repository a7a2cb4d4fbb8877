#pragma once
// What the fuzz harnesses share: a scratch output folder per process, and
// the whole path a user takes through a parser (parse, open every folder,
// read every record's texts, save the volume) over an in-memory image,
// checking afterwards that nothing was written outside the output folder.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "browse/VolumeParser.h"

namespace salvage::fuzz {

// Bounds that keep one input's run short. A hostile tree may be large; the
// harness stops walking it here (the parser itself must still end).
inline constexpr std::size_t kMaxTreeItems = 20000;
inline constexpr int kMaxWalkDepth = 64;
// The most one saved file may put in the scratch folder.
inline constexpr std::uint64_t kMaxSavedFileBytes = std::uint64_t(4) << 20;

// The process's scratch folder: <tmp>/salvage-fuzz-XXXXXX holding only
// "out" and the harness's own "input". Made on first use and removed at exit.
const std::filesystem::path& scratchBase();
// An empty "out" inside the scratch folder, for one input's saves.
std::filesystem::path freshOutput();
// Writes bytes to the scratch folder's "input" file, for loaders that
// read a file.
std::filesystem::path inputFile(const std::uint8_t* data, std::size_t size);
// Aborts (so the fuzzer reports it) when the scratch folder holds anything
// besides "out", or "out" holds a link or something that is neither a
// file nor a folder.
void checkContained();

// Runs one input as a volume of the given file-system name ("NTFS",
// "FAT16", "FAT32", "FAT64", "extX", "HFS+") starting at sector 0 of the
// bytes, in the given mode.
void runVolume(const std::uint8_t* data, std::size_t size, const std::u16string& fileSystem, RecoveryMode mode,
               bool driveFormatted = false);

}  // namespace salvage::fuzz
