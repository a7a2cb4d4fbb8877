#include "FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "browse/BrowseTree.h"
#include "browse/FileDamage.h"
#include "browse/FileList.h"
#include "browse/FolderOpen.h"

#include "browse/FolderSave.h"
#include "browse/ScanController.h"
#include "image/Globals.h"
#include "platform/Text.h"

namespace fs = std::filesystem;

namespace salvage::fuzz {

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void removeScratch() {
    std::error_code ec;
    fs::remove_all(scratchBase(), ec);
}

// The volume's size as the volume list would show it: whole MiB, rounded
// up so that a small input is not a volume of size 0.
std::u16string sizeTextFor(std::size_t bytes) {
    const std::size_t mib = (bytes + (1u << 20) - 1) >> 20;
    return fromUtf8(std::to_string(mib) + "   MB");
}

// Opens every folder the way a user expanding the tree would, and asks
// every record for its list texts, within the harness's bounds.
void walkTree(BrowseTree& tree, const VolumeParser& parser) {
    TreeItem root = tree.root();
    if (root == kNoItem) return;
    struct Pending {
        TreeItem item;
        int depth;
    };
    std::vector<Pending> stack{{root, 0}};
    std::size_t visited = 0;
    while (!stack.empty() && visited < kMaxTreeItems) {
        auto [item, depth] = stack.back();
        stack.pop_back();
        ++visited;
        if (auto id = validRecord(tree, parser, item)) {
            (void)parser.name(*id);
            (void)parser.creationTimeText(*id);
            (void)parser.accessTimeText(*id);
            (void)parser.modificationTimeText(*id);
            (void)parser.sizeText(*id);
            (void)parser.attributeText(*id);
            (void)parser.sizeBytes(*id);
            (void)parser.times(*id);
            (void)parser.recordNumber(*id);
            (void)parser.isDeleted(*id);
            if (depth < kMaxWalkDepth && parser.isDirectory(*id)) openFolder(tree, parser, item, true);
        }
        if (depth >= kMaxWalkDepth) continue;
        for (TreeItem c : tree.children(item)) stack.push_back({c, depth + 1});
    }
}

}  // namespace

const fs::path& scratchBase() {
    // Never destroyed: the exit handler that removes the folder runs after
    // the static objects are gone.
    static const fs::path& base = *new fs::path([] {
        const char* tmp = std::getenv("TMPDIR");
        // Memory-backed when the host has it: every input writes files.
        std::string dir = tmp && *tmp ? tmp : (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
        std::string pattern = dir + "/salvage-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) fail("cannot make the scratch folder in " + dir);
        std::atexit(removeScratch);
        return std::string(pattern);
    }());
    return base;
}

fs::path freshOutput() {
    const fs::path out = scratchBase() / "out";
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directory(out, ec);
    if (ec) fail("cannot make " + out.string());
    return out;
}

void checkContained() {
    const fs::path& base = scratchBase();
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(base, ec))
        if (e.path().filename() != "out" && e.path().filename() != "input") fail("written outside the output folder: " + e.path().string());
    for (auto it = fs::recursive_directory_iterator(base / "out", ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::file_status st = it->symlink_status(ec);
        if (fs::is_symlink(st)) fail("link in the output folder: " + it->path().string());
        if (!fs::is_regular_file(st) && !fs::is_directory(st))
            fail("neither file nor folder in the output folder: " + it->path().string());
    }
}

fs::path inputFile(const std::uint8_t* data, std::size_t size) {
    const fs::path p = scratchBase() / "input";
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) fail("cannot write " + p.string());
    if (size && std::fwrite(data, 1, size, f) != size) fail("cannot write " + p.string());
    std::fclose(f);
    return p;
}

namespace {
// The input as an image with one unreadable sector (as a chunk that fails
// its checksum reads): every read touching it zero-fills it and fails, and
// the sector becomes known damage, as a reader records it.
class OneBadSector : public MemorySource {
public:
    OneBadSector(const std::uint8_t* data, std::size_t size)
        : MemorySource(data, size), bad_(size >= 512 ? std::int64_t(data[size - 1]) * 7 % std::int64_t(size / 512) * 512 : -1) {}
    bool seek(std::int64_t offset, int origin = 0) override {
        if (!MemorySource::seek(offset, origin)) return false;
        at_ = baseOffset + offset;
        return true;
    }
    bool read(void* buffer, std::uint32_t count) override {
        bool ok = MemorySource::read(buffer, count);
        const std::int64_t from = std::max(at_, bad_), to = std::min(at_ + std::int64_t(count), bad_ + 512);
        if (bad_ >= 0 && from < to) {
            std::memset(static_cast<std::uint8_t*>(buffer) + (from - at_), 0, std::size_t(to - from));
            ok = false;
            noteRead(bad_, 512, false);
        } else if (ok) {
            noteRead(at_, count, true);
        }
        at_ += count;
        return ok;
    }
    // Whether image bytes [offset, offset + length) touch the bad sector.
    bool touches(std::uint64_t offset, std::uint64_t length) const {
        return bad_ >= 0 && length > 0 && offset < std::uint64_t(bad_) + 512 && std::uint64_t(bad_) < offset + length;
    }

private:
    std::int64_t bad_;
    std::int64_t at_ = 0;
};

// No file a read failed for is reported ok: none of an ok row's bytes came
// from the bad sector.
void checkStatuses(const std::vector<SavedFile>& saved, const OneBadSector& source) {
    for (const SavedFile& s : saved) {
        if (s.status != SaveStatus::Ok) continue;
        for (const ByteRun& r : s.runs) {
            const std::uint64_t stored = r.kind == ByteRun::Kind::Compressed ? r.storedLength : r.length;
            if (r.imageOffset && r.kind != ByteRun::Kind::Resident && source.touches(*r.imageOffset, stored))
                fail("an ok row holds bytes of an unreadable sector: " + toUtf8(s.volumePath));
        }
    }
}
// After the save the unreadable sector is known; the listing's map check
// (no data read) must still find a file saved ok sound. Rows with
// compressed runs are left out: the map check takes a unit's stored
// clusters as one stretch.
void checkMapCheck(VolumeParser& parser, const std::vector<SavedFile>& saved) {
    for (const SavedFile& s : saved) {
        if (s.status != SaveStatus::Ok) continue;
        if (std::any_of(s.runs.begin(), s.runs.end(), [](const ByteRun& r) { return r.kind == ByteRun::Kind::Compressed; }))
            continue;
        const FileDamage d = damageOf(parser, s.record, DamageDepth::Map);
        if (d.damaged()) fail("the map check marks a file saved ok: " + toUtf8(s.volumePath) + " (" + d.reason + ")");
    }
}
}  // namespace

void runVolume(const std::uint8_t* data, std::size_t size, const std::u16string& fileSystem, RecoveryMode mode,
               bool driveFormatted) {
    OneBadSector source(data, size);
    g_sectorSource = &source;
    g_totalSectors = source.totalSectors();
    g_driveFormatted = driveFormatted;

    VolumeRecord volume;
    volume.fileSystem = fileSystem;
    volume.name = u"1";
    volume.sizeText = sizeTextFor(size);
    volume.startSector = 0;

    BrowseTree tree;
    FileList list;
    ScanController controller(nullReporter(), tree, list);
    controller.runOnCallerThread = true;

    if (mode == RecoveryMode::Advanced) {
        if (controller.startCandidateScan(volume, &source, 3) == StartOutcome::Started && controller.parser()) {
            VolumeParser& p = *controller.parser();
            const AdvancedLists lists = p.advancedLists();
            p.advancedChoice.candidate = lists.candidates.empty() ? -1 : 0;
            p.advancedChoice.sectorsPerCluster = lists.sectorsPerCluster.empty() ? -1 : 0;
            p.advancedChoice.heapOffset = lists.heapOffsets.empty() ? -1 : 0;
        }
    }
    if (controller.startParse(volume, mode, &source) == StartOutcome::Started &&
        controller.lastParseResult() == ParseResult::Done && controller.parser()) {
        VolumeParser& parser = *controller.parser();
        walkTree(tree, parser);

        // The whole volume, as `salvage save` without a path does it.
        const fs::path out = freshOutput();
        FolderSave save(parser, nullReporter());
        // A few MiB per file: a hostile size or run list is clipped (and
        // reported so) long before its holes cost seconds of digesting.
        save.maxFileBytes = kMaxSavedFileBytes;
        std::vector<RecordId> records;
        if (TreeItem root = tree.root(); root != kNoItem)
            for (TreeItem c : tree.children(root))
                if (auto id = validRecord(tree, parser, c)) records.push_back(*id);
        save.saveRecords(records, out, u"ROOT");
        checkContained();
        checkStatuses(save.saved(), source);
        checkMapCheck(parser, save.saved());
    }
    g_sectorSource = nullptr;
    g_driveFormatted = false;
}

}  // namespace salvage::fuzz
