#include "browse/ParserFactory.h"

namespace salvage {
std::unique_ptr<VolumeParser> createFat32Parser() { return nullptr; }
}  // namespace salvage
