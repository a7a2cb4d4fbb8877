#include "cli/Commands.h"

namespace salvage::cli {
void addInfoCommand(CLI::App&) {}
}  // namespace salvage::cli
