#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"
#include "volumes/Partition.h"

namespace salvage::cli {

namespace {
struct VolumesOptions {
    std::string image;
    bool gpt = false;
    bool json = false;
};

int runVolumes(const VolumesOptions& o) {
    CliReporter reporter;
    std::string error;
    OpenedImage img = openImage(o.image, reporter, &error);
    if (!img.source) {
        std::fprintf(stderr, "salvage: %s\n", error.c_str());
        return 2;
    }
    std::vector<VolumeRecord> records;
    Partition scanner(records);
    scanner.useGpt = o.gpt;
    int rc = scanPartitionTables(*img.source, scanner);
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
        std::fprintf(stderr, "salvage: a partition table sector could not be read (error %d)\n", rc);
        return records.empty() ? 3 : 0;
    }
    return 0;
}
}  // namespace

void addVolumesCommand(CLI::App& app) {
    auto o = std::make_shared<VolumesOptions>();
    auto* cmd = app.add_subcommand("volumes", "List the image's volumes from its partition tables");
    cmd->add_option("IMAGE", o->image, "raw image, block device or first EWF segment")->required();
    cmd->add_flag("--gpt", o->gpt, "read the GPT partition entry array instead of the MBR");
    cmd->add_flag("--json", o->json, "print the records as JSON");
    cmd->callback([o]() { std::exit(runVolumes(*o)); });
}

}  // namespace salvage::cli
