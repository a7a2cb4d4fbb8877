#include "browse/ParserFactory.h"

namespace salvage {
std::unique_ptr<VolumeParser> createFat16Parser() { return nullptr; }
}  // namespace salvage
