#include "browse/FolderSave.h"

#include <system_error>

#include "platform/AppTitle.h"
#include "platform/OutputLimits.h"
#include "platform/OutputNames.h"
#include "platform/Text.h"

namespace salvage {

namespace {
namespace fs = std::filesystem;

std::u16string joinPath(const std::u16string& base, const std::u16string& name) {
    return name.empty() ? base : base + u"\\" + name;
}

void countUnder(const VolumeParser& p, RecordId id, int depth, std::set<RecordId>& seen, std::int64_t& n) {
    if (depth >= kMaxFolderDepth || !seen.insert(id).second) return;
    p.forEachChild(id, [&](RecordId c) {
        if (p.isDirectory(c)) {
            countUnder(p, c, depth + 1, seen, n);
        } else {
            ++n;
        }
        return true;
    });
}
}  // namespace

std::int64_t countFilesUnder(const VolumeParser& parser, RecordId folder) {
    std::set<RecordId> seen;
    std::int64_t n = 0;
    if (parser.isValidRecord(folder)) countUnder(parser, folder, 0, seen, n);
    return n;
}

SaveCounts countStatuses(const std::vector<SavedFile>& saved) {
    SaveCounts c;
    for (const auto& s : saved) {
        switch (s.status) {
            case SaveStatus::Ok: ++c.ok; break;
            case SaveStatus::Damaged: ++c.damaged; break;
            case SaveStatus::Failed: ++c.failed; break;
            case SaveStatus::Skipped: ++c.skipped; break;
        }
    }
    return c;
}

namespace {
void setStatus(SavedFile& s, SaveStatus st, std::string reason = {}) {
    s.status = st;
    s.ok = st == SaveStatus::Ok;
    s.skipped = st == SaveStatus::Skipped;
    if (!reason.empty()) s.reason = s.reason.empty() ? reason : s.reason + "; " + reason;
}

}  // namespace

void saveRecordInto(VolumeParser& parser, RecordId id, OutputFolder& out, const OutputDir& dir,
                    const std::u16string& volumeName, SavedFile& row, std::uint64_t maxFileBytes) {
    // A named stream "file:stream" is saved as "file_stream" beside its file.
    const std::u16string hostForm = streamHostName(volumeName, parser.streamName(id));
    const std::string host = hostFileName(hostForm);
    if (host != toUtf8(hostForm)) {
        row.originalName = volumeName;
        row.reason = "name unusable on the host";
    }
    auto file = out.create(dir, host, maxFileBytes ? maxFileBytes : maxWrittenFileBytes(parser.volumeSizeBytes()));
    if (!file) {
        setStatus(row, SaveStatus::Failed, out.error());
        return;
    }
    const ContentResult r = parser.readContent(id, *file);
    row.origin = r.origin;
    if (r.readable) row.expectedSize = r.expectedSize;
    if (!r.readable) {
        file->discard();
        setStatus(row, SaveStatus::Failed, r.reason.empty() ? "no content to read" : r.reason);
        return;
    }
    if (file->failed()) {
        const std::string why = file->error();
        file->discard();
        setStatus(row, SaveStatus::Failed, why);
        return;
    }
    if (r.stopped && !file->clipped()) {
        file->discard();
        setStatus(row, SaveStatus::Failed, "stopped before the file was complete");
        return;
    }
    // Whatever the parser did not deliver up to the record's size is zeros
    // in the file and damage in the report.
    if (!file->clipped()) file->fillMissing(row.expectedSize, cause::kNoRuns);
    const RecordTimes t = parser.times(id);
    if (!file->finish(t.access, t.modification)) {
        setStatus(row, SaveStatus::Failed, file->error());
        return;
    }
    row.written = file->path();
    row.bytes = file->size();
    row.md5 = file->digest().md5;
    row.sha256 = file->digest().sha256;
    row.runs = file->runs();
    row.damaged = file->damaged();
    if (file->clipped() && row.expectedSize > file->size())
        row.damaged.push_back({file->size(), row.expectedSize - file->size(), std::nullopt, cause::kOutputLimit});
    row.badBytes = 0;
    for (const DamagedRange& d : row.damaged) row.badBytes += d.length;
    if (row.damaged.empty()) setStatus(row, SaveStatus::Ok);
    else setStatus(row, SaveStatus::Damaged, damageCauses(row.damaged));
}

SaveOutcome VolumeParser::saveFile(RecordId id, const fs::path& folder) {
    SaveOutcome o;
    OutputFolder out;
    if (!out.open(folder)) {
        o.reason = out.error();
        return o;
    }
    SavedFile row;
    saveRecordInto(*this, id, out, out.root(), name(id), row);
    o.ok = row.status == SaveStatus::Ok || row.status == SaveStatus::Damaged;
    o.written = row.written;
    o.bytes = row.bytes;
    o.status = row.status;
    o.badBytes = row.badBytes;
    o.reason = row.reason;
    return o;
}

std::uint64_t VolumeParser::volumeSizeBytes() const {
    if (!source || source->totalSectors() <= 0) return 0;
    const std::int64_t image = source->totalSectors() * 512;
    return std::uint64_t(std::max<std::int64_t>(0, image - std::max<std::int64_t>(0, source->baseOffset)));
}

std::size_t FolderSave::failures() const { return counts().failed; }

void FolderSave::reserveName(const fs::path& outDir, const std::string& fileName) {
    reserved_.emplace_back(outDir.lexically_normal(), fileName);
    if (out_.isOpen() && outPath_.lexically_normal() == outDir.lexically_normal()) out_.reserve(out_.root(), fileName);
}

bool FolderSave::begin(const fs::path& outDir) {
    if (outDir.empty()) {
        reporter_.message(u"select output folder", u"", MessageIcon::Information);
        return false;
    }
    // One writer for every call of this save: names claimed by one call
    // stay claimed for the next.
    if (!out_.isOpen() || outPath_ != outDir) {
        if (!out_.open(outDir)) {
            reporter_.message(u"cannot write to the output folder: " + u16(out_.error()), kAppTitle,
                              MessageIcon::Error);
            return false;
        }
        outPath_ = outDir;
        for (const auto& [dir, name] : reserved_)
            if (dir == outDir.lexically_normal()) out_.reserve(out_.root(), name);
    }
    visited_.clear();
    return true;
}

std::vector<RecordId> FolderSave::childrenOf(RecordId id) const {
    std::vector<RecordId> out;
    parser_.forEachChild(id, [&](RecordId c) {
        out.push_back(c);
        return true;
    });
    return out;
}

bool FolderSave::saveFolder(RecordId folder, const fs::path& outDir, const std::u16string& volumePath) {
    if (outDir.empty()) return begin(outDir);
    if (!parser_.isValidRecord(folder) || !parser_.isDirectory(folder)) return false;
    if (!begin(outDir)) return false;
    visited_.insert(folder);
    run(childrenOf(folder), outDir, volumePath);
    return true;
}

bool FolderSave::saveRecords(const std::vector<RecordId>& records, const fs::path& outDir,
                             const std::u16string& volumePath) {
    if (!begin(outDir)) return false;
    run(records, outDir, volumePath);
    return true;
}

void FolderSave::run(const std::vector<RecordId>& records, const fs::path&, const std::u16string& volumePath) {
    std::int64_t total = 0;
    for (RecordId r : records) {
        if (!parser_.isValidRecord(r)) continue;
        if (!parser_.isDirectory(r)) ++total;
        else total += countFilesUnder(parser_, r);
    }
    reporter_.setProgressRange(0, total);
    saveChildren(records, out_.root(), volumePath, 0);
    reporter_.setProgressPosition(total);
    reporter_.message(u"work done", u"", MessageIcon::Information);
}

SavedFile FolderSave::rowFor(RecordId id, const std::u16string& volumePath) const {
    SavedFile s;
    s.volumePath = joinPath(volumePath, parser_.name(id));
    s.record = id;
    s.recordNumber = parser_.recordNumber(id);
    s.stream = parser_.streamName(id);
    s.deleted = parser_.isDeleted(id);
    s.times = parser_.times(id);
    s.expectedSize = parser_.sizeBytes(id);
    return s;
}

void FolderSave::skipSubtree(RecordId folder, const std::u16string& volumePath, SaveStatus status,
                             const std::string& reason) {
    // Iterative: the subtree is as deep as the damage that made it.
    std::vector<std::pair<RecordId, std::u16string>> todo{{folder, volumePath}};
    while (!todo.empty()) {
        auto [id, path] = std::move(todo.back());
        todo.pop_back();
        if (!visited_.insert(id).second) continue;
        for (RecordId c : childrenOf(id)) {
            if (!parser_.isValidRecord(c)) continue;
            if (parser_.isDirectory(c)) {
                todo.emplace_back(c, joinPath(path, parser_.name(c)));
            } else {
                ++counter_;
                SavedFile s = rowFor(c, path);
                setStatus(s, status, reason);
                saved_.push_back(std::move(s));
            }
        }
    }
}

void FolderSave::saveChildren(const std::vector<RecordId>& children, const OutputDir& dir,
                              const std::u16string& volumePath, int depth) {
    for (RecordId c : children) {
        if (pauseGate) pauseGate->waitWhilePaused();
        if (saveStopRequested.load()) return;
        if (!parser_.isValidRecord(c)) continue;
        reporter_.setProgressPosition(counter_);
        const std::u16string name = parser_.name(c);
        if (!parser_.isDirectory(c)) {
            saveOneFile(c, dir, volumePath);
            continue;
        }
        // A folder met before (".", "..", a loop) adds nothing new.
        if (!visited_.insert(c).second) continue;
        const std::u16string sub = joinPath(volumePath, name);
        if (depth + 1 >= kMaxFolderDepth) {
            visited_.erase(c);
            skipSubtree(c, sub, SaveStatus::Skipped,
                        "nested deeper than " + std::to_string(kMaxFolderDepth) + " folders");
            continue;
        }
        OutputDir hostDir = out_.subfolder(dir, hostFileName(name));
        if (!hostDir.valid()) {
            // Its files are still reported, each one failed.
            visited_.erase(c);
            skipSubtree(c, sub, SaveStatus::Failed, "cannot make its folder: " + out_.error());
            continue;
        }
        saveChildren(childrenOf(c), hostDir, sub, depth + 1);
    }
}

void FolderSave::saveOneFile(RecordId id, const OutputDir& dir, const std::u16string& volumePath) {
    ++counter_;
    const std::u16string name = parser_.name(id);
    reporter_.setStatus(u"saving File  " + pathToUtf16(dir.path()) + u"/" + name);
    if (sizeLine) sizeLine(u"File size: " + format16("%ld", long(parser_.sizeBytes(id) / 1024)) + u" kb");
    SavedFile s = rowFor(id, volumePath);
    // Its "$Bad" stream spans the whole volume.
    if (name == u"$BadClus" || name.starts_with(u"$BadClus:"))
        setStatus(s, SaveStatus::Skipped, "the bad-cluster file spans the whole volume");
    else saveRecordInto(parser_, id, out_, dir, name, s, maxFileBytes);
    saved_.push_back(std::move(s));
    if (sizeLine) sizeLine(u"");
}

bool FolderSave::saveSingle(RecordId file, const fs::path& outDir, const std::u16string& volumePath) {
    if (outDir.empty()) {
        reporter_.message(u"select output folder", u"", MessageIcon::Information);
        return false;
    }
    if (!parser_.isValidRecord(file) || parser_.isDirectory(file)) return false;
    if (!begin(outDir)) return false;
    ++counter_;
    SavedFile s = rowFor(file, u"");
    s.volumePath = volumePath;
    saveRecordInto(parser_, file, out_, out_.root(), parser_.name(file), s, maxFileBytes);
    const bool written = s.status == SaveStatus::Ok || s.status == SaveStatus::Damaged;
    if (written && parser_.announcesSingleSave())
        reporter_.message(format16("file is dumped in path  :  %s   ", s.written.string().c_str()), kAppTitle,
                          MessageIcon::Information);
    saved_.push_back(std::move(s));
    return written;
}

}  // namespace salvage
