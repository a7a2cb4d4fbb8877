#include "cli/VolumeChoice.h"

#include <cstring>
#include <vector>

#include "platform/ByteView.h"
#include "platform/Text.h"
#include "volumes/BootSignature.h"
#include "volumes/Partition.h"

namespace salvage::cli {

void addVolumeOptions(CLI::App* cmd, VolumeOptions& o) {
    cmd->add_option("--volume", o.volume, "the volume as `salvage volumes` names it (default: the only one)");
    cmd->add_flag("--gpt", o.gpt, "take the volume list from the GPT");
    cmd->add_option("--start", o.start, "override: the volume's first sector");
    cmd->add_option("--end", o.end, "override: the volume's last sector");
    cmd->add_option("--fs", o.fileSystem, "override: treat the file system as ntfs, fat12, fat16, fat32, exfat, extX or HFS+");
    cmd->add_option("--mode", o.mode, "recovery mode: standard, advanced or deep")
        ->check(CLI::IsMember({"standard", "advanced", "deep"}, CLI::ignore_case));
    cmd->add_option("--candidate", o.candidate, "Advanced mode: the candidate to use (index from `candidates`)");
    cmd->add_option("--sectors-per-cluster", o.sectorsPerCluster,
                    "Advanced mode: the sectors-per-cluster choice (index from `candidates`)");
    cmd->add_option("--heap", o.heap, "Advanced mode, exFAT: the heap-offset choice (index from `candidates`)");
    cmd->add_option("--max-candidates", o.maxCandidates, "Advanced mode: how many candidates to look for")
        ->check(CLI::Range(std::int64_t(1), std::int64_t(1000000)));
    cmd->add_flag("--formatted", o.formatted, "the drive was formatted: FAT chains end after their first cluster");
}

std::optional<RecoveryMode> parseMode(const std::string& text) {
    std::u16string t = fromUtf8(text);
    if (equalsIgnoreAsciiCase(t, u"standard")) return RecoveryMode::Standard;
    if (equalsIgnoreAsciiCase(t, u"advanced")) return RecoveryMode::Advanced;
    if (equalsIgnoreAsciiCase(t, u"deep")) return RecoveryMode::Deep;
    return std::nullopt;
}

bool chooseVolume(readWriteInterface& source, const VolumeOptions& o, VolumeRecord& out, std::string& error) {
    // The scan lists a bare volume (sector 0 a boot sector or superblock) as
    // the one volume at sector 0, as the volume list shows it.
    std::vector<VolumeRecord> records;
    Partition scanner(records);
    scanner.useGpt = o.gpt;
    scanPartitionTables(source, scanner);
    source.baseOffset = 0;
    const std::int64_t total = source.totalSectors();
    if (!o.volume.empty()) {
        bool found = false;
        for (const auto& r : records)
            if (toUtf8(r.name) == o.volume) {
                out = r;
                found = true;
                break;
            }
        if (!found) {
            error = "no volume named " + o.volume + " (see `salvage volumes`)";
            return false;
        }
    } else if (records.size() == 1 && !o.start) {
        out = records.front();
    } else if (!records.empty() && !o.start) {
        error = "the image holds several volumes: choose one with --volume N (see `salvage volumes`)";
        return false;
    } else {
        // Neither a table nor a file system at sector 0: the whole image.
        out.name = u"0";
        out.startSector = 0;
        out.fileSystem = u"Unknown";
    }
    if (!o.start && out.fit == ImageFit::Outside) {
        error = "volume " + toUtf8(out.name) + " lies past the image's end (the table names more than the image holds)";
        return false;
    }
    if (o.start) out.startSector = *o.start;
    if (out.startSector < 0 || (total > 0 && out.startSector >= total)) {
        error = "the volume's start lies outside the image";
        return false;
    }
    if (o.start || o.end || records.empty()) {
        std::int64_t end = o.end ? *o.end : total - 1;
        if (end < out.startSector) {
            error = "--end lies before the volume's start";
            return false;
        }
        out.sizeText = format16("%lld   MB", (long long)((end - out.startSector + 1) / 2048));
        out.sectors = end - out.startSector + 1;
    }
    if (!o.fileSystem.empty()) {
        std::u16string fs = fromUtf8(o.fileSystem);
        out.fileSystem = equalsIgnoreAsciiCase(fs, u"ext2") || equalsIgnoreAsciiCase(fs, u"ext3") ||
                                 equalsIgnoreAsciiCase(fs, u"ext4")
                             ? u"extX"
                             : fs;
    } else if (records.empty() || out.fileSystem == u"Unknown") {
        out.fileSystem = fileSystemAt(source, out.startSector);
    }
    return true;
}

}  // namespace salvage::cli
