#include "cli/Commands.h"

namespace salvage::cli {
void addCarveCommand(CLI::App&) {}
}  // namespace salvage::cli
