#include "cli/Commands.h"

namespace salvage::cli {
void addSearchCommand(CLI::App&) {}
}  // namespace salvage::cli
