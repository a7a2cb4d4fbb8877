#include "browse/ParserFactory.h"
#include "fs/fat/Fat16Class.h"

namespace salvage {
std::unique_ptr<VolumeParser> createFat16Parser() { return std::make_unique<Fat16Class>(); }
std::unique_ptr<VolumeParser> createFat12Parser() { return std::make_unique<Fat12Class>(); }
}  // namespace salvage
