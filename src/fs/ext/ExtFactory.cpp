#include "browse/ParserFactory.h"

namespace salvage {
std::unique_ptr<VolumeParser> createExtParser() { return nullptr; }
}  // namespace salvage
