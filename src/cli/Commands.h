#pragma once
// One function per subcommand; each lives in its own cmd_*.cpp.
#include <CLI/CLI.hpp>

namespace salvage::cli {
void addVolumesCommand(CLI::App& app);
}  // namespace salvage::cli
