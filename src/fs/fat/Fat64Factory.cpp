#include "browse/ParserFactory.h"
#include "fs/fat/Fat64Class.h"

namespace salvage {
std::unique_ptr<VolumeParser> createFat64Parser() { return std::make_unique<Fat64Class>(); }
}  // namespace salvage
