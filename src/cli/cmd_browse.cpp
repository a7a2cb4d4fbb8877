// salvage ls, save and candidates: the browse tree, saving and the Advanced
// candidate lists of one volume.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>

#include "browse/Bodyfile.h"
#include "browse/Dfxml.h"
#include "browse/FileContent.h"
#include "browse/FileDamage.h"
#include "browse/FileDigest.h"
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
    bool bodyfile = false;
    bool md5 = false;
    bool check = false;
};

std::u16string childPath(const std::u16string& base, const std::u16string& name) { return base + u"\\" + name; }

// The children of a folder item, opened as a label click opens it; with
// `recursive` each subfolder follows its own row. Rows go out as they are
// made, and a subfolder's items are dropped from the tree once it is
// listed, so memory follows the depth of the walk, not the volume's size.
void listFolder(BrowseTree& tree, const VolumeParser& parser, TreeItem folder, const std::u16string& path,
                const LsOptions& o, RowOutput& out, int depth, std::set<RecordId>& seen) {
    if (depth >= kMaxFolderDepth) return;
    openFolder(tree, parser, folder, true);
    for (TreeItem c : tree.children(folder)) {
        if (tree.image(c) == ItemImage::Placeholder) continue;
        auto id = validRecord(tree, parser, c);
        const bool dir = id ? parser.isDirectory(*id) : tree.hasChildren(c);
        if (!id && !dir) continue;
        const std::u16string p = childPath(path, tree.text(c));
        if (!o.deletedOnly || (id && parser.isDeleted(*id))) out.row(entryRow(parser, p, id, dir));
        const std::u16string& n = tree.text(c);
        if (o.recursive && dir && n != u"." && n != u".." && (!id || seen.insert(*id).second)) {
            listFolder(tree, parser, c, p, o, out, depth + 1, seen);
            tree.deleteItems(tree.children(c));
        }
    }
}

// The MD5 of a file's content as a save would write it, read through the
// content read: nothing is written to the host.
class Md5Sink final : public ContentSink {
public:
    bool put(const ContentPiece& piece) override {
        if (piece.data) digest.add(piece.data, std::size_t(piece.length));
        else digest.addZeros(piece.length);
        return true;
    }
    StreamDigest digest;
};

std::string contentMd5(VolumeParser& parser, RecordId id) {
    Md5Sink sink;
    parser.readContent(id, sink);
    return sink.digest.finish().md5;
}

// Marks the file rows that touch damage, then hands them on: by the map
// check (the files' layout against the damage the image reader knows, no
// data read), or with `full` by reading every file as a save would. With
// `pass` false nothing is marked (a body file has no place for the mark and
// is checked only when asked).
class DamageMarks : public RowOutput {
public:
    DamageMarks(Session& s, VolumeParser& parser, RowOutput& next, bool full, bool pass)
        : s_(s), parser_(parser), next_(next), full_(full), pass_(pass) {}
    void row(const EntryRow& r) override {
        if (!pass_ || r.directory || !r.record || s_.interrupted()) return next_.row(r);
        FileDamage d = damageOf(parser_, *r.record, full_ ? DamageDepth::Full : DamageDepth::Map);
        if (!d.damaged()) return next_.row(r);
        EntryRow marked = r;
        marked.damaged = true;
        marked.damage = std::move(d.ranges);
        ++count;
        next_.row(marked);
    }
    void finish() override { next_.finish(); }
    std::size_t count = 0;

private:
    Session& s_;
    VolumeParser& parser_;
    RowOutput& next_;
    bool full_, pass_;
};

// First-level items that stand for the volume's root rather than an entry
// (the FAT family lists its table root, "DUMMY ENTRY", beside the root's
// entries). A timeline lists each entry once, under the root, and leaves
// the stand-in out.
std::set<RecordId> rootStandIns(const BrowseTree& tree, const VolumeParser& parser) {
    std::set<RecordId> out;
    for (TreeItem c : tree.children(tree.root()))
        if (auto id = validRecord(tree, parser, c); id && parser.isRootRecord(*id)) out.insert(*id);
    return out;
}

// Rows as body file lines on stdout; with `md5`, each file's content hash.
// Rows of the records in `leaveOut` are not written.
class BodyfileRows : public RowOutput {
public:
    BodyfileRows(VolumeParser& parser, bool md5, std::set<RecordId> leaveOut)
        : parser_(parser), md5_(md5), leaveOut_(std::move(leaveOut)) {}
    void row(const EntryRow& r) override {
        const std::u16string& path = r.path;
        const auto slash = path.rfind(u'\\');
        const std::u16string_view name = std::u16string_view(path).substr(slash == std::u16string::npos ? 0 : slash + 1);
        if (name == u"." || name == u".." || (r.record && leaveOut_.count(*r.record))) return;
        BodyfileEntry e;
        e.path = bodyfilePath(path);
        e.deleted = r.deleted;
        e.directory = r.directory;
        if (r.record) {
            e.inode = r.recordNumber;
            e.size = parser_.sizeBytes(*r.record);
            e.meta = parser_.meta(*r.record);
            if (md5_ && !r.directory) {
                e.md5 = contentMd5(parser_, *r.record);
                ok = ok && !e.md5.empty();
            }
        }
        std::cout << bodyfileLine(e) << '\n';
    }
    bool ok = true;  // every asked-for hash was had

private:
    VolumeParser& parser_;
    bool md5_;
    std::set<RecordId> leaveOut_;
};

int runLs(LsOptions o) {
    Session s;
    if (!s.open(o.image, o.volume)) return kExitOpen;
    int rc = s.parse();
    if (rc != kExitOk && rc != kExitInterrupted) return rc;
    VolumeParser& parser = *s.controller.parser();
    if (o.bodyfile) o.recursive = true;  // a timeline covers the whole subtree
    const std::string wanted = o.pathOption.empty() ? o.path : o.pathOption;
    const auto names = splitVolumePath(wanted);
    TreeItem item = resolvePath(s.tree, parser, names);
    if (item == kNoItem) {
        std::fprintf(stderr, "salvage: no entry %s\n", wanted.c_str());
        return kExitIncomplete;
    }
    std::u16string path = kRootText;
    for (const auto& n : names) path = childPath(path, n);
    std::set<RecordId> standIns;
    if (o.bodyfile && item == s.tree.root()) standIns = rootStandIns(s.tree, parser);
    std::unique_ptr<RowOutput> out;
    BodyfileRows* body = nullptr;
    if (o.bodyfile) {
        auto b = std::make_unique<BodyfileRows>(parser, o.md5, standIns);
        body = b.get();
        out = std::move(b);
    } else if (o.json) {
        out = std::make_unique<JsonRows>();
    } else {
        out = std::make_unique<TextRows>();
    }
    DamageMarks marks(s, parser, *out, o.check, !o.bodyfile || o.check);
    auto id = validRecord(s.tree, parser, item);
    if (item != s.tree.root() && id && !parser.isDirectory(*id)) {
        marks.row(entryRow(parser, path, id, false));
    } else {
        std::set<RecordId> seen = standIns;
        if (id) seen.insert(*id);
        listFolder(s.tree, parser, item, path, o, marks, 0, seen);
    }
    marks.finish();
    if (marks.count > 0)
        std::fprintf(stderr, "salvage: %zu %s touch damage%s\n", marks.count, marks.count == 1 ? "file" : "files",
                     o.check ? "" : " (known so far; --check reads every file)");
    if (o.check && s.interrupted()) rc = kExitInterrupted;
    else if (o.check && marks.count > 0 && rc == kExitOk) rc = kExitDamaged;
    if (body && !body->ok && rc == kExitOk) rc = kExitIncomplete;
    return rc;
}

struct SaveOptions {
    std::string image;
    VolumeOptions volume;
    std::vector<std::string> paths;
    std::string out;
    std::string report;
    std::string dfxml;
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
    if (!o.dfxml.empty() && fs::path(o.dfxml).parent_path().lexically_normal() == out.lexically_normal())
        save.reserveName(out, fs::path(o.dfxml).filename().string());
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
    bool reportOk = csvWritten && jsonWritten;
    if (!o.dfxml.empty()) reportOk = writeDfxml(o.dfxml, dfxmlForSave(parser, o.image, save.saved(), out)) && reportOk;
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
        // How well each item fits the volume (the lists are ranked by it).
        if (!lists.candidateFit.empty()) j["candidateFit"] = lists.candidateFit;
        if (!lists.sectorsPerClusterFit.empty()) j["sectorsPerClusterFit"] = lists.sectorsPerClusterFit;
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
        auto* body = cmd->add_flag("--bodyfile", o->bodyfile,
                                   "print the subtree (always recursive) as a timeline body file");
        cmd->add_flag("--md5", o->md5, "with --bodyfile: fill the MD5 column from each file's content")->needs(body);
        cmd->add_flag("--check", o->check,
                      "read every listed file to find all damage (exit 4 when any file touches damage)");
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
        cmd->add_option("--dfxml", o->dfxml, "also write the save as DFXML (image, volume, byte runs) to this file");
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
