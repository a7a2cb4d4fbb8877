// The export path over a source that fails and lies: the input's first
// bytes choose the chunk size, the options and up to eight faults (reads
// that fail, damage reported with zeros, damage claimed anywhere, even
// outside the media); the rest is the media. The copy goes to a raw image
// in the scratch folder.
//
// The property: an export that met any fault, or was stopped, never ends
// in Done or says "done"; one that met none is a byte-exact copy; bytes
// listed as unreadable are zeros in the output and inside the media.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "../support/FaultyExportInput.h"
#include "FuzzSupport.h"
#include "image/ExportJob.h"

namespace {
constexpr std::size_t kHeader = 3;
constexpr std::size_t kFaultBytes = 6;

std::uint64_t bytesAt(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= std::uint64_t(p[i]) << (8 * i);
    return v;
}

// Remembers whether "done" was said.
class Watch : public salvage::Reporter {
public:
    void setStatus(const std::u16string&) override {}
    void setProgressRange(std::int64_t, std::int64_t) override {}
    void setProgressPosition(std::int64_t) override {}
    void message(const std::u16string& text, const std::u16string&, salvage::MessageIcon) override {
        if (text == u"done") saidDone = true;
    }
    bool ask(const std::u16string&, const std::u16string&) override { return false; }
    bool saidDone = false;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace salvage;
    if (size < kHeader) return 0;
    test::FaultyExportInput input;
    input.chunk = 512u << (data[0] % 5);
    const std::uint8_t flags = data[1];
    const std::size_t faults = std::min<std::size_t>(data[2] % 9, (size - kHeader) / kFaultBytes);
    const std::uint8_t* p = data + kHeader;
    for (std::size_t i = 0; i < faults; ++i, p += kFaultBytes) {
        // Offsets up to 16 MiB, so some land beyond the media; lengths up to 64 KiB.
        const ByteRange r{bytesAt(p + 1, 3), bytesAt(p + 4, 2) + 1};
        (p[0] % 3 == 0 ? input.failing : p[0] % 3 == 1 ? input.damaging : input.lies).push_back(r);
    }
    input.media.assign(p, data + size);

    ExportSettings s;
    s.imagePath = "memory";
    s.targetPath = (fuzz::freshOutput() / "copy").string();
    s.continueOnError = flags & 1;
    // Some exports take a range: from the middle, for half the media.
    if (flags & 2) {
        s.exportOffset = std::int64_t(input.media.size() / 4);
        s.exportSize = std::int64_t(input.media.size() / 2);
    }
    Watch watch;
    ExportJob job(s, watch);
    if (flags & 4) job.stopRequested = true;
    const ExportResult r = job.run(&input);

    const std::uint64_t from = std::uint64_t(s.exportOffset);
    const std::uint64_t bytes = s.exportSize > 0 ? std::uint64_t(s.exportSize) : input.media.size();
    const bool troubled = input.faultIn(from, bytes) || ((flags & 4) && bytes > 0);
    if (troubled && (r.outcome == ExportOutcome::Done || watch.saidDone)) std::abort();
    if (watch.saidDone != (r.outcome == ExportOutcome::Done)) std::abort();
    if (r.outcome == ExportOutcome::Done || r.outcome == ExportOutcome::Damaged) {
        std::ifstream in(r.outputPath, std::ios::binary);
        std::vector<std::uint8_t> out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (out.size() != bytes) std::abort();
        std::vector<std::uint8_t> want(input.media.begin() + std::ptrdiff_t(from),
                                       input.media.begin() + std::ptrdiff_t(from + bytes));
        for (const ByteRange& b : r.unreadable) {
            if (b.offset < from || b.offset - from > bytes || b.length > bytes - (b.offset - from)) std::abort();
            std::fill_n(want.begin() + std::ptrdiff_t(b.offset - from), b.length, 0);
        }
        if (out != want) std::abort();
        if (r.outcome == ExportOutcome::Damaged && r.unreadable.empty()) std::abort();
    }
    fuzz::checkContained();
    return 0;
}
