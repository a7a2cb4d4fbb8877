#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Session.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"
#include "volumes/AdvancedVolumeScan.h"
#include "volumes/Partition.h"
#include "volumes/VolumeList.h"

namespace salvage::cli {

namespace {
struct VolumesOptions {
    std::string image;
    bool gpt = false;
    bool json = false;
    bool advanced = false;
    bool noSkip = false;
    std::vector<std::int64_t> range;  // START END, in sectors
};

int runVolumes(const VolumesOptions& o) {
    CliReporter reporter;
    std::string error;
    OpenedImage img = openImage(o.image, reporter, &error);
    if (!img.source) {
        std::fprintf(stderr, "salvage: %s\n", error.c_str());
        return kExitOpen;
    }
    // The rows as the volume list shows them: array order after a standard
    // scan, newest first after an advanced one.
    VolumeList list(o.advanced ? ScanMode::Advanced : ScanMode::Standard);
    int rc = 0;
    InterruptWatch interrupt;
    if (o.advanced) {
        std::vector<VolumeRecord> found;
        AdvancedVolumeScan scan(found, reporter);
        scan.skipVolumeSize = !o.noSkip;
        if (o.range.size() == 2) {
            scan.rangeStartSector = o.range[0];
            scan.rangeEndSector = o.range[1];
        }
        scan.onFound = [&](const VolumeRecord& r) { list.addScannedRecord(r); };
        // Ctrl-C ends the search; the volumes found so far are listed.
        interrupt.watch(scan.stopRequested);
        rc = scan.run(*img.source);
        reporter.finishProgress();
    } else {
        Partition scanner(list.records());
        scanner.useGpt = o.gpt;
        rc = scanPartitionTables(*img.source, scanner);
        list.showStandardResults();
    }
    std::vector<VolumeRecord> records;
    for (std::size_t i = 0; i < list.rowCount(); ++i) records.push_back(list.rowRecord(i));
    if (o.json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& r : records)
            out.push_back({{"volume", toUtf8(r.name)},
                           {"fileSystem", toUtf8(r.fileSystem)},
                           {"sizeText", toUtf8(r.sizeText)},
                           {"startSector", r.startSector}});
        std::cout << out.dump(2) << "\n";
    } else {
        std::printf("%-8s %-30s %-14s %s\n", "VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR");
        for (const auto& r : records)
            std::printf("%-8s %-30s %-14s %lld\n", toUtf8(r.name).c_str(), toUtf8(r.fileSystem).c_str(),
                        toUtf8(r.sizeText).c_str(), (long long)r.startSector);
    }
    if (rc != 0) {
        std::fprintf(stderr, "salvage: %s could not be read (error %d)\n",
                     o.advanced ? "a scan window" : "a partition table sector", rc);
        return records.empty() ? kExitParse : kExitOk;
    }
    return interrupt.interrupted() ? kExitInterrupted : kExitOk;
}
}  // namespace

void addVolumesCommand(CLI::App& app) {
    auto o = std::make_shared<VolumesOptions>();
    auto* cmd = app.add_subcommand("volumes", "List the image's volumes from its partition tables, or by searching its sectors");
    cmd->add_option("IMAGE", o->image, "raw image, block device or first EWF segment")->required();
    cmd->add_flag("--gpt", o->gpt, "read the GPT partition entry array instead of the MBR");
    cmd->add_flag("--json", o->json, "print the records as JSON");
    cmd->add_flag("--advanced", o->advanced, "search every sector for boot sectors instead of reading the tables");
    cmd->add_flag("--no-skip", o->noSkip, "with --advanced: do not skip over each volume found");
    cmd->add_option("--range", o->range, "with --advanced: first and last sector to scan (0 = not set)")
        ->expected(2);
    cmd->callback([o]() { std::exit(runVolumes(*o)); });
}

}  // namespace salvage::cli
