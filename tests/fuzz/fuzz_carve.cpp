// The signature settings loader and the carving engine, with the writer
// that trims finds to their format's end. Input: one flag byte (bit 0: load
// the default settings file first), a 16-bit length and that many bytes of
// a user settings file, then the volume's bytes.
#include <memory>
#include <numeric>

#include "FuzzSupport.h"
#include "browse/BrowseTree.h"
#include "carve/CarveWriter.h"
#include "carve/SignatureFile.h"
#include "carve/myJpg.h"

using namespace salvage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool defaults = data[0] & 1;
    const std::size_t settingsBytes = std::min<std::size_t>(std::size_t(data[1]) | std::size_t(data[2]) << 8, size - 3);
    const std::uint8_t* settings = data + 3;
    const std::uint8_t* volume = settings + settingsBytes;
    const std::size_t volumeBytes = size - 3 - settingsBytes;

    std::unique_ptr<myJpg> engine;
    if (defaults) loadDefaultSignatures(SALVAGE_FILE_SETTING, engine, nullReporter());
    if (settingsBytes && !loadUserSignatures(fuzz::inputFile(settings, settingsBytes), engine, nullReporter()))
        return 0;
    if (!engine || engine->signatureTypes.empty()) return 0;

    MemorySource source(volume, volumeBytes);
    BrowseTree tree;
    engine->source = &source;
    engine->volumeBytes = std::int64_t(volumeBytes);
    engine->tree = &tree;
    if (!engine->scanVolume()) return 0;

    std::vector<std::size_t> all(engine->foundFiles.size());
    std::iota(all.begin(), all.end(), std::size_t(0));
    CarveWriter writer(source, std::int64_t(volumeBytes), fuzz::freshOutput());
    writer.write(*engine, all);
    fuzz::checkContained();
    return 0;
}
