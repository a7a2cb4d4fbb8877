#include "browse/ParserFactory.h"
#include "fs/ntfs/ntfs.h"

namespace salvage {
std::unique_ptr<VolumeParser> createNtfsParser() { return std::make_unique<ntfs>(); }
}  // namespace salvage
