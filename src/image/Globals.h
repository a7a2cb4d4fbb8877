#pragma once
// The run's process-wide state. Only the wizard pages and the command line
// set these; core classes receive the source and flags they use through their
// constructors or attachSource.
#include <atomic>
#include <cstdint>

namespace salvage {

class readWriteInterface;

enum class ImageKind { None, Raw, Ewf };

// The run's one sector source, or null before an image has been opened.
extern readWriteInterface* g_sectorSource;
// 512-byte sectors in the open image; each reader's open writes it.
extern std::int64_t g_totalSectors;
// "Is Drive Formated..?": the FAT family ends every chain after its first
// cluster and reads file data as consecutive clusters.
extern std::atomic<bool> g_driveFormatted;
// What g_sectorSource reads.
extern ImageKind g_imageKind;

}  // namespace salvage
