#include "browse/ParserFactory.h"

namespace salvage {
std::unique_ptr<VolumeParser> createHfspParser() { return nullptr; }
}  // namespace salvage
