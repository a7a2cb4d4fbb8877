#include "browse/FolderSave.h"

#include <system_error>

#include "browse/FileDigest.h"
#include "platform/AppTitle.h"
#include "platform/OutputNames.h"
#include "platform/Text.h"

namespace salvage {

namespace {
namespace fs = std::filesystem;

// Saved files are first written here (inside the output folder, so a
// rename moves them) and then take their final, unique name.
constexpr char kStagingName[] = ".salvage-staging";

bool isDotName(const std::u16string& n) { return n == u"." || n == u".."; }

std::u16string trimmed(const std::u16string& s) {
    const auto b = s.find_first_not_of(u" \t\r\n");
    if (b == std::u16string::npos) return {};
    return s.substr(b, s.find_last_not_of(u" \t\r\n") - b + 1);
}

std::u16string joinPath(const std::u16string& base, const std::u16string& name) {
    return name.empty() ? base : base + u"\\" + name;
}

void countUnder(const VolumeParser& p, RecordId id, int depth, std::set<RecordId>& seen, std::int64_t& n) {
    if (depth >= kMaxFolderDepth || !seen.insert(id).second) return;
    p.forEachChild(id, [&](RecordId c) {
        if (p.isDirectory(c)) {
            if (!isDotName(p.name(c))) countUnder(p, c, depth + 1, seen, n);
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

std::size_t FolderSave::failures() const {
    std::size_t n = 0;
    for (const auto& s : saved_) n += (!s.ok && !s.skipped);
    return n;
}

void FolderSave::reserveName(const fs::path& outDir, const std::string& fileName) {
    used_[outDir.lexically_normal()].insert(fileName);
}

bool FolderSave::begin(const fs::path& outDir) {
    if (outDir.empty()) {
        reporter_.message(u"select output folder", u"", MessageIcon::Information);
        return false;
    }
    std::error_code ec;
    fs::create_directories(outDir, ec);
    staging_ = outDir / kStagingName;
    visited_.clear();
    counter_ = 0;
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

void FolderSave::run(const std::vector<RecordId>& records, const fs::path& outDir, const std::u16string& volumePath) {
    std::int64_t total = 0;
    for (RecordId r : records) {
        if (!parser_.isValidRecord(r)) continue;
        if (!parser_.isDirectory(r)) ++total;
        else if (!isDotName(parser_.name(r))) total += countFilesUnder(parser_, r);
    }
    reporter_.setProgressRange(0, total);
    saveChildren(records, outDir, volumePath, 0);
    std::error_code ec;
    fs::remove_all(staging_, ec);
    staging_.clear();
    reporter_.setProgressPosition(total);
    reporter_.message(u"work done", u"", MessageIcon::Information);
}

void FolderSave::saveChildren(const std::vector<RecordId>& children, const fs::path& dir,
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
        // "." is the folder itself and ".." its parent: neither is a new folder.
        if (isDotName(name)) continue;
        if (depth + 1 >= kMaxFolderDepth || !visited_.insert(c).second) continue;
        const std::u16string clean = trimmed(name);
        fs::path sub = clean.empty() ? dir : folderFor(dir, clean);
        saveChildren(childrenOf(c), sub, joinPath(volumePath, clean), depth + 1);
    }
}

fs::path FolderSave::folderFor(const fs::path& dir, const std::u16string& name) {
    const std::string base = safeOutputPath(fs::path(), name).filename().string();
    std::error_code ec;
    for (int n = 1;; ++n) {
        fs::path p = dir / (n == 1 ? base : numberedName(base, n));
        if (p == staging_) continue;  // the staging folder is removed at the end
        // An existing folder is reused (saving twice overwrites); a file of
        // the name keeps its place and the folder takes the next number.
        if (fs::is_directory(p, ec) || fs::create_directory(p, ec)) return p;
        if (!fs::exists(p, ec) || n > 10000) return p;  // cannot be made: its files fail
    }
}

fs::path FolderSave::claimFileName(const fs::path& dir, const std::string& fileName) {
    auto& names = used_[dir.lexically_normal()];
    std::error_code ec;
    for (int n = 1;; ++n) {
        std::string candidate = n == 1 ? fileName : numberedName(fileName, n);
        fs::path p = dir / candidate;
        if (names.count(candidate) || fs::is_directory(p, ec)) continue;
        names.insert(candidate);
        return p;
    }
}

void FolderSave::finishEntry(SavedFile& s) {
    if (s.written.empty()) return;
    FileDigest d = digestFile(s.written);
    if (!d.ok) {
        s.ok = false;
        return;
    }
    s.bytes = d.bytes;
    s.md5 = d.md5;
    s.sha256 = d.sha256;
}

void FolderSave::saveOneFile(RecordId id, const fs::path& dir, const std::u16string& volumePath) {
    ++counter_;
    const std::u16string name = parser_.name(id);
    reporter_.setStatus(u"saving File  " + pathToUtf16(dir) + u"/" + name);
    if (sizeLine) sizeLine(u"File size: " + format16("%ld", long(parser_.sizeBytes(id) / 1024)) + u" kb");

    SavedFile s;
    s.volumePath = joinPath(volumePath, name);
    s.record = id;
    s.recordNumber = parser_.recordNumber(id);
    s.deleted = parser_.isDeleted(id);
    s.times = parser_.times(id);
    if (name == u"$BadClus") {
        // The bad-cluster file spans the whole volume: counted, not written.
        s.skipped = true;
    } else {
        std::error_code ec;
        fs::create_directories(staging_, ec);
        SaveOutcome o = parser_.saveFile(id, staging_);
        s.ok = o.ok;
        if (!o.written.empty() && fs::exists(o.written, ec) && !fs::is_directory(o.written, ec)) {
            fs::path target = claimFileName(dir, o.written.filename().string());
            fs::rename(o.written, target, ec);
            if (ec) {
                s.ok = false;
                fs::remove(o.written, ec);
            } else {
                s.written = target;
            }
        } else {
            s.ok = false;
        }
        finishEntry(s);
    }
    saved_.push_back(std::move(s));
    if (sizeLine) sizeLine(u"");
}

bool FolderSave::saveSingle(RecordId file, const fs::path& outDir, const std::u16string& volumePath) {
    if (outDir.empty()) {
        reporter_.message(u"select output folder", u"", MessageIcon::Information);
        return false;
    }
    if (!parser_.isValidRecord(file) || parser_.isDirectory(file)) return false;
    std::error_code ec;
    fs::create_directories(outDir, ec);
    SavedFile s;
    s.volumePath = volumePath;
    s.record = file;
    s.recordNumber = parser_.recordNumber(file);
    s.deleted = parser_.isDeleted(file);
    s.times = parser_.times(file);
    SaveOutcome o = parser_.saveFile(file, outDir);
    s.ok = o.ok;
    if (!o.written.empty() && fs::exists(o.written, ec)) s.written = o.written;
    finishEntry(s);
    if (s.ok && parser_.announcesSingleSave())
        reporter_.message(format16("file is dumped in path  :  %s   ", s.written.string().c_str()), kAppTitle,
                          MessageIcon::Information);
    const bool ok = s.ok;
    saved_.push_back(std::move(s));
    return ok;
}

}  // namespace salvage
