#pragma once
// The exit codes of every salvage command, one table (shown in --help and
// docs/MANUAL.md). A command that finished with damage in what it saved or
// copied never exits 0.
namespace salvage::cli {

inline constexpr int kExitOk = 0;           // done, everything as asked
inline constexpr int kExitIncomplete = 1;   // something asked for was not found, or could not be written
inline constexpr int kExitOpen = 2;         // image, volume, pattern or option unusable
inline constexpr int kExitParse = 3;        // the parser refused the volume or failed
inline constexpr int kExitDamaged = 4;      // finished, but saved files or a copy hold damage (or ls --check found some)
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C; what was done is kept and reported

}  // namespace salvage::cli
