#pragma once
// The standard volume scan: MBR with its chain of extended boot records, or
// the GPT partition entry array, each partition's first sector classified.
#include <vector>

#include "image/SectorSource.h"
#include "platform/Poll.h"
#include "platform/Reporter.h"
#include "volumes/VolumeRecord.h"

namespace salvage {

class Partition : public Pollable {
public:
    explicit Partition(std::vector<VolumeRecord>& records, Reporter& reporter = nullReporter())
        : page(&records), statusLine(&reporter) {}

    bool useGpt = false;
    std::vector<VolumeRecord>* page;  // receives the records, in discovery order
    Reporter* statusLine;             // the scan writes its progress words here
};

// Runs the scan; returns 0, or an error code (errno) when a table sector
// cannot be read. Records found before a failure stay in the array.
int scanPartitionTables(readWriteInterface& source, Partition& scanner);

bool isExfatBootSector(readWriteInterface& source, std::int64_t startSector);
bool isHfsPlusVolume(readWriteInterface& source, std::int64_t startSector);

// Limits that keep a hostile table finite.
inline constexpr int kMaxExtendedBootRecords = 50;  // longer chains are loops
inline constexpr int kMaxGptEntries = 72;           // what fits the 10,240-byte read... and a bit more
inline constexpr std::uint32_t kGptReadBytes = 10240;

}  // namespace salvage
