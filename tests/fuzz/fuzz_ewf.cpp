// The EWF reader and the information rows on one segment file: the bytes
// are written as a single-segment image.E01, its information is read and
// turned into rows, and the media is read through the reader, as the
// information page and a scan would.
#include <cstdlib>
#include <fstream>
#include <vector>

#include "FuzzSupport.h"
#include "image/EwfInfo.h"
#include "image/EwfReader.h"

// libewf 20140813 leaks the chunk buffers of reads that fail inside a cut
// or damaged segment (allocated in libewf_chunk_data_initialize, never
// freed): the library's leak, not the reader's, so LeakSanitizer leaves it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libewf_chunk_data_initialize\n"; }

namespace {
// Reads stop here, whatever media size the file claims.
constexpr std::uint64_t kMaxReadBytes = 8u << 20;
constexpr std::uint32_t kStep = 64u << 10;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace salvage;
    const std::filesystem::path image = fuzz::freshOutput() / "image.E01";
    {
        std::ofstream out(image, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    EwfInfoRecord record;
    std::vector<InfoRow> rows;
    if (readImageInformation(image, record, nullReporter())) fillInformationList(record, rows);
    for (const InfoRow& r : rows)
        if (r.item.empty()) std::abort();

    FileReadSeekEWf reader(nullReporter(), &record);
    if (reader.open(image)) {
        // The sector count never claims more than the segment set holds.
        if (std::uint64_t(reader.totalSectors()) * 512 > reader.mediaSize()) std::abort();
        std::vector<std::uint8_t> buffer(kStep);
        const std::uint64_t end = std::min<std::uint64_t>(reader.mediaSize(), kMaxReadBytes);
        // The reads end at the first that fails: libewf keeps every chunk
        // buffer of a failed read (above), so a run of damaged images would
        // otherwise pile up gigabytes over a fuzzing session.
        for (std::uint64_t at = 0; at < end; at += kStep)
            if (!readAt(reader, std::int64_t(at), buffer.data(), kStep)) break;
        // A read past the end fails or delivers zeros; it never crashes.
        readAt(reader, std::int64_t(reader.mediaSize()), buffer.data(), 512);
    }
    fuzz::checkContained();
    return 0;
}
