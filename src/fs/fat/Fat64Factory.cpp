#include "browse/ParserFactory.h"

namespace salvage {
std::unique_ptr<VolumeParser> createFat64Parser() { return nullptr; }
}  // namespace salvage
