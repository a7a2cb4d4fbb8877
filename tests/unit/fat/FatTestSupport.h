#pragma once
// Runs a FAT-family parser over an image and finds records by path.
#include <memory>
#include <string>

#include "browse/ParserFactory.h"
#include "browse/VolumeParser.h"
#include "image/SectorSource.h"

namespace salvage::test {

struct ParsedVolume {
    std::unique_ptr<readWriteInterface> source;
    BrowseTree tree;
    RecordingReporter reporter;
    std::unique_ptr<VolumeParser> parser;
    ParseResult result = ParseResult::Failed;

    // The record at a "/"-separated path of names below the table's root
    // (record 0), or -1.
    RecordId find(const std::u16string& path) const;
    // Every record below the root as "path" strings, for messages.
    std::string listing() const;
};

std::unique_ptr<ParsedVolume> parseVolume(std::unique_ptr<VolumeParser> parser,
                                          std::unique_ptr<readWriteInterface> source,
                                          std::int64_t startSector = 0);

}  // namespace salvage::test
