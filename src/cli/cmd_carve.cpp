// salvage carve: finds files in a volume's raw sectors by their signatures,
// lists them by category and, with --out, writes them.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "browse/BrowseTree.h"
#include "carve/CarveWriter.h"
#include "carve/SignatureFile.h"
#include "carve/myJpg.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Session.h"
#include "cli/TreePrint.h"
#include "image/ImageOpen.h"
#include "platform/Text.h"
#include "volumes/Partition.h"

namespace salvage::cli {

namespace {
struct CarveOptions {
    std::string image;
    int volume = -1;
    bool gpt = false;
    std::int64_t startSector = -1, endSector = -1;
    std::vector<std::string> signatures;
    bool noDefault = false;
    std::string out;
    bool outGiven = false;
    bool json = false;
};

struct Extent {
    std::int64_t startByte = 0;
    std::int64_t bytes = 0;
};

// The part of the image to scan: a listed volume, a sector range, or the
// whole image. Volumes are as long as their listed size in MiB, as the
// raw recovery page takes them, and never longer than the image.
bool chooseExtent(const CarveOptions& o, readWriteInterface& source, Extent& e) {
    const std::int64_t imageBytes = source.totalSectors() * kSectorBytes;
    if (o.volume >= 0) {
        std::vector<VolumeRecord> records;
        Partition scanner(records);
        scanner.useGpt = o.gpt;
        scanPartitionTables(source, scanner);
        const std::u16string wanted = u16(std::to_string(o.volume));
        for (const VolumeRecord& r : records) {
            if (r.name != wanted) continue;
            e.startByte = r.startSector * kSectorBytes;
            e.bytes = sizeTextMegabytes(r.sizeText) * myJpg::kChunkBytes;
            break;
        }
        if (e.bytes == 0) {
            std::fprintf(stderr, "salvage: no volume %d with a size in the partition tables\n", o.volume);
            return false;
        }
    } else if (o.startSector >= 0 || o.endSector >= 0) {
        std::int64_t end = o.endSector >= 0 ? o.endSector : source.totalSectors();
        if (o.startSector < 0 || end <= o.startSector) {
            std::fprintf(stderr, "salvage: --start must lie before --end\n");
            return false;
        }
        e.startByte = o.startSector * kSectorBytes;
        e.bytes = (end - o.startSector) * kSectorBytes;
    } else {
        e.bytes = imageBytes;
    }
    if (e.startByte >= imageBytes) {
        std::fprintf(stderr, "salvage: the range starts past the image's end\n");
        return false;
    }
    e.bytes = std::min(e.bytes, imageBytes - e.startByte);
    return true;
}

int runCarve(const CarveOptions& o) {
    if (o.outGiven && o.out.empty()) {
        std::fprintf(stderr, "salvage: --out needs a folder name; nothing was written\n");
        return kExitOpen;
    }
    CliReporter reporter;
    std::string error;
    OpenedImage img = openImage(o.image, reporter, &error);
    if (!img.source) {
        std::fprintf(stderr, "salvage: %s\n", error.c_str());
        return kExitOpen;
    }
    Extent extent;
    if (!chooseExtent(o, *img.source, extent)) return kExitOpen;

    std::unique_ptr<myJpg> engine;
    if (!o.noDefault) loadDefaultSignatures(defaultSettingsPath(), engine, reporter);
    for (const std::string& path : o.signatures)
        if (!loadUserSignatures(path, engine, reporter)) return kExitOpen;
    if (!engine || engine->signatureTypes.empty()) {
        std::fprintf(stderr, "salvage: enter the info file first.. (no signature types loaded)\n");
        return kExitOpen;
    }

    BrowseTree tree;
    img.source->baseOffset = extent.startByte;
    engine->source = img.source.get();
    engine->volumeBytes = extent.bytes;
    engine->pageWindow = &reporter;
    engine->tree = &tree;
    // Ctrl-C ends the scan, or the writing between files; what was found and
    // written so far is still listed, and the report written.
    InterruptWatch interrupt;
    interrupt.watch(engine->stopRequested);
    if (!engine->scanVolume()) return kExitOpen;
    reporter.finishProgress();

    std::vector<std::size_t> all(engine->foundFiles.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::unique_ptr<CarveWriter> writer;
    bool wrote = true;
    if (!o.out.empty()) {
        writer = std::make_unique<CarveWriter>(*img.source, extent.bytes, o.out, reporter);
        interrupt.watch(writer->stopRequested);
        // Stopped during the scan: nothing is written but the report.
        wrote = writer->write(*engine, interrupt.interrupted() ? std::vector<std::size_t>{} : all);
        reporter.finishProgress();
    }

    nlohmann::json categories = nlohmann::json::array();
    for (TreeItem root = tree.root(); TreeItem category : tree.children(root)) {
        if (!tree.hasChildren(category)) continue;
        nlohmann::json finds = nlohmann::json::array();
        for (TreeItem item : tree.children(category)) {
            auto index = std::size_t(tree.itemData(item).value_or(0));
            const FoundFile& f = engine->foundFiles[index];
            finds.push_back({{"name", toUtf8(tree.text(item))},
                             {"offset", f.start},
                             {"length", f.length},
                             {"type", toUtf8(engine->signatureTypes[f.typeIndex].extension)}});
        }
        categories.push_back({{"category", toUtf8(tree.text(category))}, {"finds", finds}});
    }
    if (o.json) {
        nlohmann::json out = {{"volumeStart", extent.startByte}, {"volumeBytes", extent.bytes}, {"categories", categories}};
        if (writer) {
            nlohmann::json files = nlohmann::json::array();
            for (const CarvedFile& c : writer->carved())
                files.push_back({{"file", c.fileName}, {"offset", c.start}, {"length", c.length},
                                 {"written", c.writtenBytes}, {"trimmed", c.trimmed}, {"complete", c.complete},
                                 {"md5", c.md5}, {"sha256", c.sha256}});
            out["written"] = files;
        }
        std::cout << out.dump(2) << "\n";
    } else {
        for (const auto& c : categories) {
            std::printf("%s\n", terminalText(fromUtf8(c["category"].get<std::string>())).c_str());
            for (const auto& f : c["finds"])
                std::printf("  %-24s %14lld %14lld\n", f["name"].get<std::string>().c_str(),
                            (long long)f["offset"].get<std::uint64_t>(), (long long)f["length"].get<std::int64_t>());
        }
        if (writer)
            std::printf("%zu files written to %s (report: %s)\n", writer->carved().size(), o.out.c_str(), kCarveReportName);
    }
    if (interrupt.interrupted()) {
        std::fprintf(stderr, "salvage: stopped; %zu finds listed%s\n", engine->foundFiles.size(),
                     writer ? ", the files written so far are in the report" : "");
        return kExitInterrupted;
    }
    return wrote ? kExitOk : kExitIncomplete;
}
}  // namespace

void addCarveCommand(CLI::App& app) {
    auto o = std::make_shared<CarveOptions>();
    auto* cmd = app.add_subcommand("carve", "Find files in raw sectors by their signatures; list them, or write them");
    cmd->add_option("IMAGE", o->image, "raw image, block device or first EWF segment")->required();
    auto* volume = cmd->add_option("--volume", o->volume, "scan volume N of the partition tables")->check(CLI::NonNegativeNumber);
    auto* start = cmd->add_option("--start", o->startSector, "first 512-byte sector of the range to scan")->check(CLI::NonNegativeNumber);
    auto* end = cmd->add_option("--end", o->endSector, "sector after the range to scan (default: the image's end)")->check(CLI::NonNegativeNumber);
    volume->excludes(start)->excludes(end);
    cmd->add_flag("--gpt", o->gpt, "with --volume: number the volumes of the GPT partition entry array");
    cmd->add_option("--signatures", o->signatures, "a signature settings file; may be given more than once");
    cmd->add_flag("--no-default", o->noDefault, "do not load the default FileSetting.txt beside the program");
    auto* out = cmd->add_option("--out", o->out, "write every find into this folder, with carve-report.csv");
    cmd->add_flag("--json", o->json, "print the finds as JSON");
    cmd->callback([o, out]() {
        o->outGiven = out->count() > 0;
        std::exit(runCarve(*o));
    });
}

}  // namespace salvage::cli
