#include "browse/ParserFactory.h"
#include "fs/hfsplus/HFSP.h"

namespace salvage {
std::unique_ptr<VolumeParser> createHfspParser() { return std::make_unique<HFSP>(); }
}  // namespace salvage
