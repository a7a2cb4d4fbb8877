#pragma once
// One constructor per file-system parser; each is defined in its parser's
// folder (fs/*/Factory.cpp). A null result means the parser is not built.
#include <memory>

#include "browse/VolumeParser.h"

namespace salvage {
std::unique_ptr<VolumeParser> createNtfsParser();
std::unique_ptr<VolumeParser> createFat16Parser();
std::unique_ptr<VolumeParser> createFat12Parser();
std::unique_ptr<VolumeParser> createFat32Parser();
std::unique_ptr<VolumeParser> createFat64Parser();
std::unique_ptr<VolumeParser> createExtParser();
std::unique_ptr<VolumeParser> createHfspParser();
}  // namespace salvage
