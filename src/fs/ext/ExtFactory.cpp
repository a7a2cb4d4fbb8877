#include "browse/ParserFactory.h"
#include "fs/ext/ext2Class.h"

namespace salvage {
std::unique_ptr<VolumeParser> createExtParser() { return std::make_unique<ext2Class>(); }
}  // namespace salvage
