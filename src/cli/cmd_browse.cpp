#include "cli/Commands.h"

namespace salvage::cli {
void addBrowseCommands(CLI::App&) {}
}  // namespace salvage::cli
