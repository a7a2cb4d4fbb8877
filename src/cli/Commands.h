#pragma once
// One function per subcommand; each lives in its own cmd_*.cpp.
#include <CLI/CLI.hpp>

namespace salvage::cli {
void addVolumesCommand(CLI::App& app);
void addInfoCommand(CLI::App& app);        // cmd_info.cpp
void addBrowseCommands(CLI::App& app);     // cmd_browse.cpp: ls, save, candidates
void addSearchCommand(CLI::App& app);      // cmd_search.cpp
void addCarveCommand(CLI::App& app);       // cmd_carve.cpp
void addExportCommand(CLI::App& app);      // cmd_export.cpp
void addVerifyCommand(CLI::App& app);      // cmd_verify.cpp
}  // namespace salvage::cli
