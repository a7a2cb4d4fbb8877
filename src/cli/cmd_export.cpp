#include <cstdio>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Session.h"
#include "image/ExportJob.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"

namespace salvage::cli {

namespace {
struct ExportOptions {
    std::string image;
    std::string out;
    std::string format = "raw";
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::uint64_t segmentSize = 0;
    bool continueOnError = false;
};

int runExport(const ExportOptions& o) {
    if (o.out.empty()) {
        std::fprintf(stderr, "salvage: --out needs a name; nothing was written\n");
        return kExitOpen;
    }
    if (std::string problem = imageProblem(o.image); !problem.empty()) {
        std::fprintf(stderr, "salvage: %s\n", problem.c_str());
        return kExitOpen;
    }
    CliReporter reporter;
    ExportSettings settings;
    settings.imagePath = o.image;
    settings.targetPath = o.out;
    settings.outputFormat = o.format == "ewf" ? ExportFormat::Ewf : ExportFormat::Raw;
    settings.exportOffset = o.offset;
    settings.exportSize = o.size;
    settings.maximumSegmentSize = o.segmentSize;
    settings.continueOnError = o.continueOnError;
    // The image's own values (sectors per chunk, operating system) for EWF
    // sources; a raw image has none.
    if (looksLikeEwf(o.image) && !readImageInformation(o.image, settings.info, reporter)) settings.info = {};

    ExportJob job(settings, reporter);
    ExportResult result;
    {
        // Ctrl-C stops the copy at the next chunk; the output is still
        // finalised and marked partial.
        InterruptWatch interrupt;
        interrupt.watch(job.stopRequested);
        result = job.run();
    }
    reporter.finishProgress();

    if (result.segmentSizeReplaced)
        std::fprintf(stderr, "salvage: segment size out of range; %llu bytes used\n",
                     (unsigned long long)kExportDefaultSegmentBytes);
    if (!result.outputPath.empty() && result.outputPath != "-")
        std::fprintf(stderr, "%s: %llu of %llu bytes, MD5 %s\n", result.outputPath.c_str(),
                     (unsigned long long)result.bytesCopied, (unsigned long long)result.bytesRequested,
                     result.md5.c_str());
    switch (result.outcome) {
        case ExportOutcome::Done: return kExitOk;
        case ExportOutcome::Stopped: return kExitInterrupted;
        case ExportOutcome::Damaged:
        case ExportOutcome::HashMismatch: return kExitDamaged;
        case ExportOutcome::ReadFailed:
        case ExportOutcome::WriteFailed: return kExitIncomplete;
        case ExportOutcome::RangeRejected:
        case ExportOutcome::Refused:
        case ExportOutcome::Failed: return kExitOpen;
    }
    return kExitOpen;
}
}  // namespace

void addExportCommand(CLI::App& app) {
    auto o = std::make_shared<ExportOptions>();
    auto* cmd = app.add_subcommand("export", "Copy an image's media data, or a byte range of it, to a raw or EWF image");
    cmd->add_option("IMAGE", o->image, "first EWF segment (or wildcard pattern), or a raw image")->required();
    cmd->add_option("--out", o->out, "output path; \"-\" writes raw data to standard output")->required();
    cmd->add_option("--format", o->format, "raw (default) or ewf (EnCase 6, no compression)")
        ->check(CLI::IsMember({"raw", "ewf"}));
    cmd->add_option("--offset", o->offset, "first byte of the media to copy");
    cmd->add_option("--size", o->size, "bytes to copy; 0 copies the whole media");
    cmd->add_option("--segment-size", o->segmentSize, "maximum bytes per output segment file; 0 = one file");
    cmd->add_flag("--continue-on-error", o->continueOnError,
                  "write unreadable parts of the image as zeros, list them, and go on (exit 4)");
    cmd->callback([o]() { std::exit(runExport(*o)); });
}

}  // namespace salvage::cli
