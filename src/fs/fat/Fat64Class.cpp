#include "fs/fat/Fat64Class.h"

#include <algorithm>
#include <unordered_map>

#include "browse/DisplayFormats.h"
#include "fs/fat/ExFatDirectory.h"
#include "fs/fat/ExFatTime.h"
#include "fs/fat/FatVolume.h"
#include "fs/fat/RecycleBin.h"
#include "image/Globals.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage {

using fat::ExFatEntry;

namespace {
constexpr char16_t kDummyName[] = u"DUMMY ENTRY";
// An exFAT directory holds at most 256 MiB of entries.
constexpr std::uint64_t kMaxExFatDirectoryBytes = 256ull * 1024 * 1024;
// Largest cluster the format allows.
constexpr std::uint32_t kMaxExFatClusterBytes = 32u * 1024 * 1024;
}  // namespace

ParseResult Fat64Class::parse(RecoveryMode mode) {
    if (!source) return ParseResult::Failed;
    source->baseOffset = volume.startSector * kSectorBytes;
    source->seek(0, 0);
    if (tree) rootItem = tree->insertItem(kRootText, ItemImage::Folder);
    if (mode == RecoveryMode::Advanced) return parseAdvanced();
    if (mode != RecoveryMode::Standard) return ParseResult::Failed;
    if (!checkBootSector()) {
        reporter->message(u"Selected Drive is not in exFat Format", kAppTitle, MessageIcon::Information);
        return ParseResult::NotThisFormat;
    }
    reporter->setStatus(u"processing file and directory entries...");
    reporter->setStatus(u"Finding Fat64 File And Directory entries recursively....");
    entries_.clear();
    visitedDirectories_.clear();
    // The root has no stream extension: it always follows its FAT chain.
    visitedDirectories_.insert(rootCluster_);
    const std::vector<std::uint8_t> root = readDirectory(rootCluster_, kMaxExFatDirectoryBytes, false);
    walkDirectory(ByteView(root), 0, 0);
    entries_.link(*reporter);
    reporter->setStatus(u"creating tree Structure...");
    fillRootEntries();
    return ParseResult::Done;
}

bool Fat64Class::checkBootSector() {
    std::uint8_t boot[512] = {};
    if (!readAt(*source, 0, boot, sizeof boot)) {
        reporter->message(u"cant read file", u"", MessageIcon::Information);
        return false;
    }
    ByteView b(boot, sizeof boot);
    if (!b.matches(3, "EXFAT")) return false;
    const unsigned bpsShift = b[108], spcShift = b[109];
    // Sector sizes of 512 to 4096 bytes, clusters up to 32 MiB.
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return false;
    const std::uint64_t bps = 1ull << bpsShift;
    geo_.clusterBytes = std::uint32_t(bps << spcShift);
    if (geo_.clusterBytes > kMaxExFatClusterBytes) return false;
    const std::int64_t fatOffset = std::int64_t(le32(b, 80)) * std::int64_t(bps);
    const std::uint64_t fatBytes = std::uint64_t(le32(b, 84)) * bps;
    geo_.heapOffset = std::int64_t(le32(b, 88)) * std::int64_t(bps);
    rootCluster_ = le32(b, 96);
    bootShift_ = std::uint8_t(spcShift);
    // Clusters stop at the boot sector's count, the FAT's last entry and the
    // end of the volume as its record gives it.
    std::uint64_t limit = std::min<std::uint64_t>(std::uint64_t(le32(b, 92)) + 2, fatBytes / 4);
    const std::uint64_t volumeBytes = std::uint64_t(salvage::volumeBytes(volume));
    if (volumeBytes) limit = std::min<std::uint64_t>(limit, volumeBytes / geo_.clusterBytes + 2);
    limit = std::min<std::uint64_t>(limit, 0x0FFFFFF7);
    geo_.clusterLimit = std::uint32_t(limit);
    auto chain = std::make_unique<fat::Fat32Chain>(*source, fatOffset, fatBytes);
    chain->clusterLimit = geo_.clusterLimit;
    chain->endFrom = 0x0FFFFFF7;
    chain_ = std::move(chain);
    return true;
}

std::vector<std::uint8_t> Fat64Class::readDirectory(std::uint32_t first, std::uint64_t dataLength, bool noFatChain) {
    std::vector<std::uint8_t> dir;
    // A folder without a chain is one run over its data length. A chained
    // folder follows the FAT to its end; with "Is Drive Formated..?" set
    // only its first cluster is read. A deleted folder's freed chain (its
    // first FAT entry 0) is read as consecutive clusters over its length.
    bool consecutive = noFatChain;
    std::uint64_t length = kMaxExFatDirectoryBytes;
    if (noFatChain) {
        length = std::min(dataLength, kMaxExFatDirectoryBytes);
    } else if (g_driveFormatted.load()) {
        length = geo_.clusterBytes;
    } else if (first >= 2 && first < geo_.clusterLimit && chain_->entry(first) == 0 && dataLength) {
        consecutive = true;
        length = std::min(dataLength, kMaxExFatDirectoryBytes);
    }
    fat::readClusterData(*source, geo_, chain_.get(), first, length, consecutive,
                         [&](const std::uint8_t* d, std::size_t n) {
                             dir.insert(dir.end(), d, d + n);
                             return true;
                         },
                         this);
    return dir;
}

void Fat64Class::walkDirectory(ByteView dir, std::uint32_t parent, int depth) {
    const std::vector<fat::ExFatSet> sets = fat::decodeEntrySets(dir);
    if (parent == 0 && entries_.empty()) {
        // The table's root record carries the first root set's fields.
        ExFatEntry dummy = sets.empty() ? ExFatEntry{} : sets.front().fields;
        dummy.parentIndex = 0;
        entries_.add(dummy, kDummyName);
    }
    std::unordered_map<std::uint32_t, std::uint32_t> firstUse;  // cluster -> record, this listing only
    for (const fat::ExFatSet& set : sets) {
        if (pollStop()) return;
        ExFatEntry r = set.fields;
        r.parentIndex = parent;
        if (!r.isDirectory()) {
            entries_.add(r, set.name);
            continue;
        }
        auto it = firstUse.find(r.firstCluster);
        if (it != firstUse.end()) {
            // Two sets naming one folder: one record, named after the later.
            entries_.rename(it->second, set.name);
            continue;
        }
        const std::uint32_t own = entries_.add(r, set.name), first = r.firstCluster;
        firstUse.emplace(r.firstCluster, own);
        const std::uint64_t length = r.dataLength;
        const bool noChain = r.noFatChain();
        // A folder read once is never read again: this ends loops between folders.
        if (depth >= fat::kMaxDirectoryDepth || first < 2 || first >= geo_.clusterLimit ||
            !visitedDirectories_.insert(first).second)
            continue;
        const std::vector<std::uint8_t> sub = readDirectory(first, length, noChain);
        walkDirectory(ByteView(sub), own, depth + 1);
    }
}

void Fat64Class::fillRootEntries() {
    if (!tree) return;
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const ExFatEntry& r = entries_[i];
        const std::u16string name(entries_.nameOf(i));
        if (r.parentIndex != 0 || name == kDummyName) continue;
        reporter->setStatus(format16("filling entry =%d in tree ", int(i)));
        const bool folder = r.isDirectory() && r.attributes != 0x14;
        TreeItem item = tree->insertItem(name, folder ? ItemImage::Folder : ItemImage::File, rootItem);
        tree->setItemData(item, RecordId(i));
        if (r.deleted() && !(folder && name == u"ORPHAN ENTRY")) tree->setRed(item);
        if (folder) tree->expand(item);
    }
    tree->expand(rootItem);
}

const ExFatEntry* Fat64Class::rec(RecordId id) const {
    return entries_.find(id);
}

bool Fat64Class::isValidRecord(RecordId id) const { return rec(id) != nullptr; }
bool Fat64Class::isDirectory(RecordId id) const {
    const ExFatEntry* r = rec(id);
    return r && r->isDirectory();
}
bool Fat64Class::isDeleted(RecordId id) const {
    const ExFatEntry* r = rec(id);
    return r && r->deleted();
}
std::u16string Fat64Class::name(RecordId id) const { return entries_.name(id); }
bool Fat64Class::hasChildren(RecordId id) const { return entries_.hasChildren(id); }
void Fat64Class::forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const {
    entries_.forEachChild(id, visit);
}

RecordTimes Fat64Class::times(RecordId id) const {
    RecordTimes t;
    if (const ExFatEntry* r = rec(id)) {
        t.creation = fat::exFatToUnixNanos(r->createTimestamp, r->create10ms, r->createUtcOffset);
        t.modification = fat::exFatToUnixNanos(r->modifyTimestamp, r->modify10ms, r->modifyUtcOffset);
        t.access = fat::exFatToUnixNanos(r->accessTimestamp, 0, r->accessUtcOffset);
    }
    return t;
}

RecordMeta Fat64Class::meta(RecordId id) const {
    RecordMeta m = VolumeParser::meta(id);
    if (const ExFatEntry* r = rec(id)) m.mode = fat::unixMode(r->attributes, isDirectory(id));
    return m;
}

namespace {
std::u16string timeText(const std::optional<UnixNanos>& t) { return t ? formatListTime(*t) : std::u16string(); }
}  // namespace

std::u16string Fat64Class::creationTimeText(RecordId id) const { return timeText(times(id).creation); }
std::u16string Fat64Class::accessTimeText(RecordId id) const { return timeText(times(id).access); }
std::u16string Fat64Class::modificationTimeText(RecordId id) const { return timeText(times(id).modification); }
std::u16string Fat64Class::sizeText(RecordId id) const {
    const ExFatEntry* r = rec(id);
    return r ? formatListSize(r->dataLength) : std::u16string();
}
std::u16string Fat64Class::attributeText(RecordId id) const {
    const ExFatEntry* r = rec(id);
    return r ? fat::attributeLetters(r->attributes) : std::u16string();
}
std::uint64_t Fat64Class::sizeBytes(RecordId id) const {
    const ExFatEntry* r = rec(id);
    return r ? r->dataLength : 0;
}

ContentResult Fat64Class::readContent(RecordId id, ContentSink& sink) {
    ContentResult res;
    const ExFatEntry* r = rec(id);
    if (!r || !chain_ || !source) {
        res.reason = "no such file";
        return res;
    }
    // Bytes past the valid data length are zeros by definition, up to the
    // data length; no file reaches past the volume's cluster area.
    const std::uint64_t heapBytes =
        geo_.clusterLimit > 2 ? std::uint64_t(geo_.clusterLimit - 2) * geo_.clusterBytes : 0;
    const std::uint64_t length = std::min(r->dataLength, heapBytes);
    const std::uint64_t valid = std::min(r->validDataLength, length);
    const std::uint32_t c = r->firstCluster;
    const bool freed = c >= 2 && c < geo_.clusterLimit && chain_->entry(c) == 0;
    const bool consecutive = r->noFatChain() || g_driveFormatted.load() || freed;
    res.readable = true;
    res.expectedSize = r->dataLength;
    if (parsedMode != RecoveryMode::Standard) res.origin = ContentOrigin::Scan;
    else if (r->deleted()) res.origin = r->noFatChain() ? ContentOrigin::DeletedChainIntact
                                        : consecutive   ? ContentOrigin::DeletedAssumedContiguous
                                                        : ContentOrigin::DeletedChainIntact;
    ContentStream out(sink, source, r->dataLength);
    const auto read = fat::streamClusterData(out, *source, geo_, chain_.get(), c, valid, consecutive, this);
    if (read.complete) out.sparse(length - valid);
    out.finish(read.complete ? cause::kOutsideVolume : fat::endCause(read.end));
    res.stopped = out.refused() || read.end == fat::ClusterReadResult::End::Stopped;
    return res;
}

void Fat64Class::recycleBinPass() {
    fat::RecycleBinAccess access;
    access.readData = [this](RecordId id) {
        const ExFatEntry* r = rec(id);
        if (!r || !chain_ || r->dataLength > fat::kMaxRecycleInfoBytes) return std::vector<std::uint8_t>();
        MemorySink data;
        readContent(id, data);
        return std::move(data.bytes);
    };
    access.rename = [this](RecordId id, const std::u16string& n) {
        if (id >= 0) entries_.rename(std::size_t(id), n);
    };
    fat::renameRecycledFiles(*this, access);
}

}  // namespace salvage
