#include "browse/ParserFactory.h"
#include "fs/fat/Fat32Class.h"

namespace salvage {
std::unique_ptr<VolumeParser> createFat32Parser() { return std::make_unique<Fat32Class>(); }
}  // namespace salvage
