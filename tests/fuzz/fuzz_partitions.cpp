// Volume discovery: the MBR walk with its extended chain, the GPT entry
// array, and the advanced scan's sector search with and without skipping
// behind each find.
#include "FuzzSupport.h"
#include "image/Globals.h"
#include "volumes/AdvancedVolumeScan.h"
#include "volumes/Partition.h"

using namespace salvage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemorySource source(data, size);
    g_totalSectors = source.totalSectors();
    for (bool gpt : {false, true}) {
        std::vector<VolumeRecord> records;
        Partition scanner(records);
        scanner.useGpt = gpt;
        scanPartitionTables(source, scanner);
        for (const VolumeRecord& r : records) (void)sizeTextMegabytes(r.sizeText);
    }
    for (bool skip : {true, false}) {
        std::vector<VolumeRecord> records;
        AdvancedVolumeScan scan(records);
        scan.skipVolumeSize = skip;
        scan.run(source);
    }
    return 0;
}
