// salvage ls, save and candidates: the browse tree, saving and the Advanced
// candidate lists of one volume.
#include <cstdio>
#include <iostream>
#include <set>

#include "browse/FolderOpen.h"
#include "browse/FolderSave.h"
#include "browse/SaveReport.h"
#include "cli/Commands.h"
#include "cli/Session.h"
#include "cli/TreePrint.h"
#include "platform/Text.h"

namespace salvage::cli {

namespace {
namespace fs = std::filesystem;

struct LsOptions {
    std::string image;
    VolumeOptions volume;
    std::string path = "ROOT";
    std::string pathOption;
    bool recursive = false;
    bool deletedOnly = false;
    bool json = false;
};

std::u16string childPath(const std::u16string& base, const std::u16string& name) { return base + u"\\" + name; }

// The children of a folder item, opened as a label click opens it; with
// `recursive` each subfolder follows its own row.
void listFolder(BrowseTree& tree, const VolumeParser& parser, TreeItem folder, const std::u16string& path,
                const LsOptions& o, std::vector<EntryRow>& rows, int depth, std::set<RecordId>& seen) {
    if (depth >= kMaxFolderDepth) return;
    openFolder(tree, parser, folder, true);
    for (TreeItem c : tree.children(folder)) {
        if (tree.image(c) == ItemImage::Placeholder) continue;
        auto id = validRecord(tree, parser, c);
        const bool dir = id ? parser.isDirectory(*id) : tree.hasChildren(c);
        if (!id && !dir) continue;
        const std::u16string p = childPath(path, tree.text(c));
        if (!o.deletedOnly || (id && parser.isDeleted(*id))) rows.push_back(entryRow(parser, p, id, dir));
        const std::u16string& n = tree.text(c);
        if (o.recursive && dir && n != u"." && n != u".." && (!id || seen.insert(*id).second))
            listFolder(tree, parser, c, p, o, rows, depth + 1, seen);
    }
}

int runLs(const LsOptions& o) {
    Session s;
    if (!s.open(o.image, o.volume)) return kExitOpen;
    int rc = s.parse();
    if (rc != kExitOk && rc != kExitInterrupted) return rc;
    VolumeParser& parser = *s.controller.parser();
    const std::string wanted = o.pathOption.empty() ? o.path : o.pathOption;
    const auto names = splitVolumePath(wanted);
    TreeItem item = resolvePath(s.tree, parser, names);
    if (item == kNoItem) {
        std::fprintf(stderr, "salvage: no entry %s\n", wanted.c_str());
        return kExitIncomplete;
    }
    std::u16string path = kRootText;
    for (const auto& n : names) path = childPath(path, n);
    std::vector<EntryRow> rows;
    auto id = validRecord(s.tree, parser, item);
    if (item != s.tree.root() && id && !parser.isDirectory(*id)) {
        rows.push_back(entryRow(parser, path, id, false));
    } else {
        std::set<RecordId> seen;
        if (id) seen.insert(*id);
        listFolder(s.tree, parser, item, path, o, rows, 0, seen);
    }
    if (o.json)
        std::cout << rowsJson(rows).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    else
        printRowsText(rows);
    return rc;
}

struct SaveOptions {
    std::string image;
    VolumeOptions volume;
    std::vector<std::string> paths;
    std::string out;
    std::string report;
};

// The report's two files: --report F gives F.csv and F.json.
std::pair<fs::path, fs::path> reportFiles(const SaveOptions& o) {
    fs::path base = o.report.empty() ? fs::path(o.out) / "salvage_report" : fs::path(o.report);
    if (base.extension() == ".csv" || base.extension() == ".json") base.replace_extension();
    fs::path csv = base, json = base;
    csv += ".csv";
    json += ".json";
    return {csv, json};
}

int runSave(const SaveOptions& o) {
    if (o.out.empty()) {
        std::fprintf(stderr, "salvage: --out needs a folder name; nothing was saved\n");
        return kExitOpen;
    }
    Session s;
    if (!s.open(o.image, o.volume)) return kExitOpen;
    int rc = s.parse();
    if (rc == kExitInterrupted) return rc;  // the user stopped before anything was saved
    if (rc != kExitOk) return rc;
    VolumeParser& parser = *s.controller.parser();
    FolderSave save(parser, s.reporter);
    const fs::path out(o.out);
    const auto [csv, json] = reportFiles(o);
    for (const fs::path& f : {csv, json})
        if (f.parent_path().lexically_normal() == out.lexically_normal()) save.reserveName(out, f.filename().string());
    // Ctrl-C during the save ends it at the next file.
    s.watchSaveStop(save.saveStopRequested);
    bool missing = false;
    const std::vector<std::string> paths = o.paths.empty() ? std::vector<std::string>{"ROOT"} : o.paths;
    for (const auto& p : paths) {
        const auto names = splitVolumePath(p);
        std::u16string vpath = kRootText;
        for (const auto& n : names) vpath = childPath(vpath, n);
        TreeItem item = resolvePath(s.tree, parser, names);
        if (item == kNoItem) {
            std::fprintf(stderr, "salvage: no entry %s\n", p.c_str());
            missing = true;
            continue;
        }
        if (names.empty()) {
            // The whole volume: every item of the first level as one folder's children.
            std::vector<RecordId> records;
            for (TreeItem c : s.tree.children(item))
                if (auto id = validRecord(s.tree, parser, c)) records.push_back(*id);
            // False: the output folder could not be opened.
            if (!save.saveRecords(records, out, vpath)) missing = true;
            continue;
        }
        auto id = validRecord(s.tree, parser, item);
        if (!id) {
            missing = true;
            continue;
        }
        const bool done = parser.isDirectory(*id) ? save.saveFolder(*id, out, vpath) : save.saveSingle(*id, out, vpath);
        if (!done && !save.output().isOpen()) missing = true;
        if (save.saveStopRequested) break;
    }
    s.reporter.finishProgress();
    const auto csvWritten = writeSaveReportCsv(csv, out, save.saved());
    const auto jsonWritten = writeSaveReportJson(json, out, save.saved());
    const bool reportOk = csvWritten && jsonWritten;
    if (!reportOk) std::fprintf(stderr, "salvage: the save report could not be written\n");
    const SaveCounts n = save.counts();
    std::fprintf(stderr, "salvage: %zu of %lld files saved, %zu damaged, %zu failed, %zu skipped; report %s\n",
                 n.saved(), (long long)save.fileCounter(), n.damaged, n.failed, n.skipped,
                 (csvWritten ? *csvWritten : csv).string().c_str());
    if (s.interrupted()) return kExitInterrupted;
    if (missing || n.failed || !reportOk) return kExitIncomplete;
    return n.damaged ? kExitDamaged : kExitOk;
}

struct CandidateOptions {
    std::string image;
    VolumeOptions volume;
    bool json = false;
};

int runCandidates(const CandidateOptions& o) {
    Session s;
    VolumeOptions v = o.volume;
    v.mode = "advanced";
    if (!s.open(o.image, v)) return kExitOpen;
    int rc = s.findCandidates();
    if (rc != kExitOk && rc != kExitInterrupted) return rc;
    AdvancedLists lists = s.controller.parser()->advancedLists();
    auto strings = [](const std::vector<std::u16string>& v) {
        std::vector<std::string> out;
        for (const auto& t : v) out.push_back(toUtf8(t));
        return out;
    };
    if (o.json) {
        nlohmann::json j = {{"candidates", strings(lists.candidates)},
                            {"sectorsPerCluster", strings(lists.sectorsPerCluster)},
                            {"heapOffsets", strings(lists.heapOffsets)}};
        std::cout << j.dump(2) << "\n";
    } else {
        auto print = [](const char* title, const std::vector<std::u16string>& v) {
            for (std::size_t i = 0; i < v.size(); ++i) std::printf("%-20s %3zu  %s\n", title, i, toUtf8(v[i]).c_str());
        };
        print("CANDIDATE", lists.candidates);
        print("SECTORS_PER_CLUSTER", lists.sectorsPerCluster);
        print("HEAP_OFFSET", lists.heapOffsets);
    }
    return rc;
}
}  // namespace

void addBrowseCommands(CLI::App& app) {
    {
        auto o = std::make_shared<LsOptions>();
        auto* cmd = app.add_subcommand("ls", "List a volume's folders and files as the browse tree shows them");
        cmd->add_option("IMAGE", o->image, "raw image, block device or first EWF segment")->required();
        cmd->add_option("PATH", o->path, "the folder or file, e.g. 'ROOT\\docs' (default ROOT)");
        cmd->add_option("--path", o->pathOption, "the folder or file, e.g. 'ROOT\\docs'");
        cmd->add_flag("-r,--recursive", o->recursive, "list subfolders too");
        cmd->add_flag("--deleted", o->deletedOnly, "list deleted entries only");
        cmd->add_flag("--json", o->json, "print the rows as JSON");
        addVolumeOptions(cmd, o->volume);
        cmd->callback([o]() { std::exit(runLs(*o)); });
    }
    {
        auto o = std::make_shared<SaveOptions>();
        auto* cmd = app.add_subcommand("save", "Save folders or files of a volume (default: the whole volume)");
        cmd->add_option("IMAGE", o->image, "raw image, block device or first EWF segment")->required();
        cmd->add_option("PATH", o->paths, "folders or files to save, e.g. 'ROOT\\docs' (default ROOT)");
        cmd->add_option("--path", o->paths, "a folder or file to save");
        cmd->add_option("--out", o->out, "output folder")->required();
        cmd->add_option("--report", o->report, "report file name without extension (default OUT/salvage_report)");
        addVolumeOptions(cmd, o->volume);
        cmd->callback([o]() { std::exit(runSave(*o)); });
    }
    {
        auto o = std::make_shared<CandidateOptions>();
        auto* cmd = app.add_subcommand("candidates", "List the Advanced mode's candidates for a damaged volume");
        cmd->add_option("IMAGE", o->image, "raw image, block device or first EWF segment")->required();
        cmd->add_flag("--json", o->json, "print the lists as JSON");
        addVolumeOptions(cmd, o->volume);
        cmd->callback([o]() { std::exit(runCandidates(*o)); });
    }
}

}  // namespace salvage::cli
