#include "browse/ParserFactory.h"

namespace salvage {
std::unique_ptr<VolumeParser> createNtfsParser() { return nullptr; }
}  // namespace salvage
