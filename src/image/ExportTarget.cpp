// The export's guard for its input: which files the image is read from, and
// whether the output's names may be written. An output never replaces a
// file of the image, and of an earlier output set only files this writer
// can tell it made are removed.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <optional>

#include "image/EwfHandle.h"
#include "image/EwfInfo.h"
#include "image/ExportJob.h"
#include "image/ExportOutput.h"
#include "image/ImageOpen.h"
#include "image/SplitRawSource.h"
#include "platform/Text.h"

namespace salvage {

namespace fs = std::filesystem;

namespace {

// One file as the system knows it: a block or character device also by the
// device it stands for, so two nodes of one disk are the same file.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    dev_t special = 0;
    bool isDevice = false;
    bool sameAs(const FileIdentity& o) const {
        if (isDevice && o.isDevice && special == o.special) return true;
        return device == o.device && inode == o.inode;
    }
};

FileIdentity identityOf(const struct stat& st) {
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.isDevice = S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode);
    id.special = id.isDevice ? st.st_rdev : 0;
    return id;
}

// Follows symbolic links, so a link to the image is the image.
std::optional<FileIdentity> identityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return identityOf(st);
}

// True when the name exists at all (a dangling link included).
bool nameExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The first line of a text file, at most a few hundred bytes read.
std::string firstLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    char c;
    while (line.size() < 256 && in.get(c) && c != '\n') line += c;
    return line;
}

// The information file libsmraw writes beside a raw output: a small text
// whose first line opens its information values.
bool looksLikeRawInfo(const std::string& path) {
    if (!isRegularFile(path)) return false;
    std::error_code ec;
    if (fs::file_size(path, ec) > (64u << 10) || ec) return false;
    const std::string line = firstLine(path);
    return line.rfind("<information_values>", 0) == 0 || line.rfind("<integrity_hash_values>", 0) == 0;
}

// Files beside `first` that name segments of its set by extension
// (NAME.E01, NAME.E02, ..., NAME.EAA, ..., or the s01 / L01 series): a set
// with a gap is still evidence after the gap.
void addSameStemSegments(const fs::path& first, std::vector<std::string>& out) {
    std::error_code ec;
    const fs::path folder = first.has_parent_path() ? first.parent_path() : fs::path(".");
    const std::string stem = first.stem().string();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path name = it->path().filename();
        const std::string ext = name.extension().string();
        if (name.stem().string() != stem || ext.size() != 4) continue;
        // E01..E99 (or e01, s01, L01 ...) and, past 99 segments, EAA..ZZZ.
        const bool numbered = std::strchr("EeSsLl", ext[1]) && std::isdigit((unsigned char)ext[2]) &&
                              std::isdigit((unsigned char)ext[3]);
        const bool lettered = ext[1] >= 'E' && ext[1] <= 'Z' && std::isupper((unsigned char)ext[2]) &&
                              std::isupper((unsigned char)ext[3]);
        if (!numbered && !lettered) continue;
        out.push_back((folder / name).string());
    }
}

std::u16string refusal(const char* what, const std::string& file) {
    return format16(what, file.c_str());
}

constexpr char kIsInput[] =
    "%s is a file of the image being exported; nothing was written. Choose another output name.";
constexpr char kNotOurs[] =
    "%s already exists and is not part of an earlier export; nothing was written. Remove it or choose another "
    "output name.";

// Segment sizes from here on are replaced by the default, as the copy does.
constexpr std::uint64_t kMaxSegmentBytes = 9223372036854775807ull;
// Raw piece names looked at beyond an existing run.
constexpr std::uint64_t kRawNamesChecked = 100000;
// The last EWF segment name, base.ZZZ.
constexpr std::size_t kLastEwfSegment = 100 + 22 * 676 - 1;

}  // namespace

std::vector<std::string> imageInputFiles(const fs::path& image) {
    std::vector<std::string> files;
    resolveImagePattern(image, files);
    std::vector<std::string> out = files;
    if (files.size() == 1 && looksLikeEwf(files[0])) {
        EwfError error;
        std::vector<std::string> set;
        if (globSegmentSet(files[0], set, error)) out.insert(out.end(), set.begin(), set.end());
        addSameStemSegments(files[0], out);
    } else if (files.size() == 1) {
        for (const fs::path& piece : splitRawPieces(files[0])) out.push_back(piece.string());
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::u16string checkExportTarget(const ExportSettings& s, std::uint64_t exportBytes,
                                 std::vector<std::string>& earlierSet) {
    earlierSet.clear();
    if (s.targetPath.empty()) return u"No output name was given; nothing was written.";
    std::vector<std::pair<std::string, FileIdentity>> inputs;
    for (const std::string& f : imageInputFiles(s.imagePath))
        if (auto id = identityOf(f)) inputs.emplace_back(f, *id);
    auto inputFor = [&](const FileIdentity& id) {
        for (const auto& [name, in] : inputs)
            if (in.sameAs(id)) return true;
        return false;
    };

    if (s.outputFormat == ExportFormat::Raw && s.targetPath == "-") {
        struct stat st {};
        if (::fstat(STDOUT_FILENO, &st) == 0 && inputFor(identityOf(st)))
            return u"Standard output is a file of the image being exported; nothing was written.";
        return {};
    }

    std::uint64_t segmentBytes = s.maximumSegmentSize >= kMaxSegmentBytes ? kExportDefaultSegmentBytes
                                                                          : s.maximumSegmentSize;
    // Every name the writer may create, plus any earlier set running on
    // beyond them.
    std::vector<std::string> names;
    std::string note;
    if (s.outputFormat == ExportFormat::Ewf) {
        const std::string base = ewfOutputBase(s.targetPath);
        if (base.empty()) return u"No output name was given; nothing was written.";
        if (segmentBytes == 0) segmentBytes = kExportDefaultSegmentBytes;
        const std::uint64_t needed = exportBytes / segmentBytes + 2;
        for (std::size_t n = 1; n <= kLastEwfSegment; ++n) {
            const std::string name = ewfSegmentName(base, n);
            const bool exists = nameExists(name);
            if (!exists && n > needed) break;
            if (exists) names.push_back(name);
        }
        note = ewfNoteName(base);
    } else {
        const std::string base = rawOutputBase(s.targetPath);
        if (base.empty()) return u"No output name was given; nothing was written.";
        if (nameExists(base + ".raw")) names.push_back(base + ".raw");
        // A tiny segment size asks for more pieces than are worth a look
        // each; past this many only an existing run is followed.
        const std::uint64_t needed =
            segmentBytes ? std::min<std::uint64_t>(exportBytes / segmentBytes + 1, kRawNamesChecked) : 0;
        for (std::uint64_t n = 0;; ++n) {
            std::string number = std::to_string(n);
            if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
            const std::string name = base + ".raw." + number;
            const bool exists = nameExists(name);
            if (!exists && n >= needed) break;
            if (exists) names.push_back(name);
        }
        note = rawInfoName(base);
    }

    const bool noteExists = nameExists(note);
    for (const std::string& name : names)
        if (auto id = identityOf(name); id && inputFor(*id)) return refusal(kIsInput, name);
    if (noteExists)
        if (auto id = identityOf(note); id && inputFor(*id)) return refusal(kIsInput, note);

    // What is there must be recognisably this writer's: EWF segments by
    // their signature (and a status note by its heading); raw data, which
    // has no signature, only beside the information file raw output writes.
    if (s.outputFormat == ExportFormat::Ewf) {
        for (const std::string& name : names)
            if (!isRegularFile(name) || !looksLikeEwf(name)) return refusal(kNotOurs, name);
        if (noteExists && (!isRegularFile(note) || firstLine(note) != kEwfNoteHeading))
            return refusal(kNotOurs, note);
    } else {
        const bool earlierExport = noteExists && looksLikeRawInfo(note);
        if (noteExists && !earlierExport) return refusal(kNotOurs, note);
        for (const std::string& name : names)
            if (!earlierExport || !isRegularFile(name)) return refusal(kNotOurs, name);
    }
    earlierSet = names;
    if (noteExists) earlierSet.push_back(note);
    return {};
}

}  // namespace salvage
