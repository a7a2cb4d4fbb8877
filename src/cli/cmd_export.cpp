#include "cli/Commands.h"

namespace salvage::cli {
void addExportCommand(CLI::App&) {}
}  // namespace salvage::cli
