#include "fs/fat/FatVolume.h"

#include <algorithm>

#include "browse/DisplayFormats.h"
#include "fs/fat/ClusterData.h"
#include "fs/fat/DosTime.h"
#include "fs/fat/FatNames.h"
#include "image/Globals.h"
#include "platform/Text.h"

namespace salvage::fat {

namespace {
constexpr char16_t kDummyName[] = u"DUMMY ENTRY";
}

ParseResult FatVolume::parse(RecoveryMode mode) {
    if (!source) return ParseResult::Failed;
    source->baseOffset = volume.startSector * kSectorBytes;
    source->seek(0, 0);
    if (tree) rootItem = tree->insertItem(kRootText, ItemImage::Folder);
    if (mode == RecoveryMode::Advanced) return parseAdvanced();
    if (mode != RecoveryMode::Standard) return ParseResult::Failed;
    if (!checkBootSector()) {
        reporter->message(refusalText(), refusalCaption(), MessageIcon::Information);
        return ParseResult::NotThisFormat;
    }
    reporter->setStatus(walkStatus());
    entries_.clear();
    visitedClusters_.clear();
    walkRoot(readRootDirectory());
    reporter->setStatus(u"maintaining tree Structure in vector...");
    linkChildren();
    reporter->setStatus(u"Creating Tree Structure....");
    fillRootEntries();
    reporter->setStatus(u"Tree Structure Created.");
    return ParseResult::Done;
}

std::int64_t FatVolume::clusterOffset(std::uint32_t c) const {
    return clusterHeap_ + (std::int64_t(c) - 2) * std::int64_t(clusterBytes_);
}

void FatVolume::readCluster(std::uint32_t c, std::vector<std::uint8_t>& buf) {
    buf.assign(clusterBytes_, 0);
    readAt(*source, clusterOffset(c), buf.data(), clusterBytes_);
}

FatEntry FatVolume::entryFrom(ByteView e) const {
    FatEntry r;
    r.attributes = e[11];
    r.createTenths = e[13];
    r.createTime = le16(e, 14);
    r.createDate = le16(e, 16);
    r.accessDate = le16(e, 18);
    r.firstClusterHigh = le16(e, 20);
    r.writeTime = le16(e, 22);
    r.writeDate = le16(e, 24);
    r.firstClusterLow = le16(e, 26);
    r.size = le32(e, 28);
    return r;
}

void FatVolume::walkRoot(const std::vector<std::uint8_t>& root) {
    ByteView dir(root);
    // The table's root record carries the first root entry's fields.
    FatEntry dummy = dir.has(0, kDirEntryBytes) ? entryFrom(dir.sub(0, kDirEntryBytes)) : FatEntry{};
    dummy.deleted = 0;
    dummy.parentIndex = 0;
    entries_.add(dummy, kDummyName);
    walkEntries(dir, 0, true, 0);
}

void FatVolume::walkEntries(ByteView dir, std::uint32_t parent, bool isRoot, int depth) {
    std::unordered_map<std::uint32_t, std::uint32_t> firstUse;  // cluster -> record, this listing only
    std::optional<LongName> pending;
    std::size_t off = 0;
    while (dir.has(off, kDirEntryBytes)) {
        if (pollStop()) return;
        ByteView e = dir.sub(off, kDirEntryBytes);
        const std::uint8_t first = e[0], attr = e[11];
        if (first == 0) {
            pending.reset();
            if (!isRoot && subdirEndsAtZero()) {
                // The end mark closes this cluster; the next cluster is read on.
                off = (off / clusterBytes_ + 1) * clusterBytes_;
            } else {
                off += kDirEntryBytes;
            }
            continue;
        }
        if (attr == kLongNameAttr) {
            LongName ln = collectLongName(dir, off);
            off += ln.consumed * kDirEntryBytes;
            pending = std::move(ln);
            continue;
        }
        if (first == '.' && !isRoot) {
            pending.reset();
            off += kDirEntryBytes;
            continue;
        }
        FatEntry r = entryFrom(e);
        const bool isDir = isWalkedDirectory(attr);
        const std::u16string name = entryName(e, pending, r);
        pending.reset();
        r.parentIndex = parent;
        off += kDirEntryBytes;
        if (isDir) {
            const std::uint32_t c = r.firstCluster();
            auto it = firstUse.find(c);
            if (it != firstUse.end()) {
                // Two entries naming one folder: one record, named after the later.
                entries_.rename(it->second, name);
                if (isRoot) entries_[it->second].deleted = r.deleted;
                continue;
            }
            const std::uint32_t own = entries_.add(r, name);
            firstUse.emplace(c, own);
            walkSubdirectory(own, c, depth + 1);
        } else {
            entries_.add(r, name);
        }
    }
}

void FatVolume::walkSubdirectory(std::uint32_t own, std::uint32_t firstCluster, int depth) {
    if (depth > kMaxDirectoryDepth || firstCluster < 2 || firstCluster >= chain_->clusterLimit) return;
    // A cluster listed once is never listed again: this ends loops between
    // folders and chains that run into another folder's clusters.
    if (!visitedClusters_.insert(firstCluster).second) return;
    std::vector<std::uint8_t> buf;
    readCluster(firstCluster, buf);
    // A folder's first cluster starts with "."; anything else is not a folder.
    if (buf.empty() || buf[0] != '.') return;
    const std::uint64_t maxClusters = std::max<std::uint64_t>(1, kMaxDirectoryBytes / clusterBytes_);
    std::vector<std::uint8_t> dir = buf;
    std::optional<std::uint32_t> c = chain_->next(firstCluster);
    std::uint64_t count = 1;
    while (c && count < maxClusters && visitedClusters_.insert(*c).second) {
        if (pollStop()) break;
        readCluster(*c, buf);
        dir.insert(dir.end(), buf.begin(), buf.end());
        ++count;
        c = chain_->next(*c);
    }
    walkEntries(ByteView(dir), own, false, depth);
}

void FatVolume::linkChildren() { entries_.link(*reporter); }

std::u16string FatVolume::entryName(ByteView e, const std::optional<LongName>& pending, FatEntry& r) const {
    const std::uint8_t first = e[0];
    if (pending && !pending->text.empty()) {
        r.deleted = (pending->deleted || first == kDeletedMark) ? 1 : 0;
        return pending->text;
    }
    r.deleted = first == kDeletedMark ? 1 : 0;
    return isWalkedDirectory(r.attributes) ? shortNameRaw(e) : fileName(e);
}

void FatVolume::fillRootEntries() {
    if (!tree) return;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const FatEntry& r = entries_[i];
        if (r.parentIndex != 0) continue;
        if (i == 0 && !dummyGetsNode()) continue;
        // The DUMMY ENTRY carries a copy of the first root entry's fields:
        // as a file it would save that entry a second time.
        if (i == 0 && r.attributes == 0x20) continue;
        ItemImage img;
        if (rootFolderNode(r.attributes)) img = ItemImage::Folder;
        else if (r.attributes == 0x20 || isLabelWithData(r.attributes, r.firstCluster(), r.size))
            img = ItemImage::File;
        else continue;
        TreeItem item = tree->insertItem(std::u16string(entries_.nameOf(i)), img, rootItem);
        tree->setItemData(item, RecordId(i));
        if (r.deleted) tree->setRed(item);
        if (img == ItemImage::Folder) tree->expand(item);
    }
    tree->expand(rootItem);
}

const FatEntry* FatVolume::rec(RecordId id) const {
    return entries_.find(id);
}

bool FatVolume::isValidRecord(RecordId id) const { return rec(id) != nullptr; }
bool FatVolume::isDirectory(RecordId id) const {
    const FatEntry* r = rec(id);
    return r && folderAttr(r->attributes);
}
bool FatVolume::isDeleted(RecordId id) const {
    const FatEntry* r = rec(id);
    return r && r->deleted;
}
std::u16string FatVolume::name(RecordId id) const { return entries_.name(id); }
bool FatVolume::hasChildren(RecordId id) const { return entries_.hasChildren(id); }
void FatVolume::forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const {
    entries_.forEachChild(id, visit);
}

namespace {
std::u16string timeText(std::uint16_t date, std::uint16_t time) {
    auto t = dosToUnixNanos(date, time);
    return t ? formatListTime(*t) : std::u16string();
}
}  // namespace

std::u16string FatVolume::creationTimeText(RecordId id) const {
    const FatEntry* r = rec(id);
    return r ? timeText(r->createDate, r->createTime) : std::u16string();
}
std::u16string FatVolume::accessTimeText(RecordId id) const {
    const FatEntry* r = rec(id);
    return r ? timeText(r->accessDate, 0) : std::u16string();
}
std::u16string FatVolume::modificationTimeText(RecordId id) const {
    const FatEntry* r = rec(id);
    return r ? timeText(r->writeDate, r->writeTime) : std::u16string();
}
std::u16string FatVolume::sizeText(RecordId id) const {
    const FatEntry* r = rec(id);
    return r ? formatListSize(r->size) : std::u16string();
}
std::u16string FatVolume::attributeText(RecordId id) const {
    const FatEntry* r = rec(id);
    return r ? attributeLetters(r->attributes) : std::u16string();
}
std::uint64_t FatVolume::sizeBytes(RecordId id) const {
    const FatEntry* r = rec(id);
    return r ? r->size : 0;
}
RecordTimes FatVolume::times(RecordId id) const {
    RecordTimes t;
    if (const FatEntry* r = rec(id)) {
        t.creation = dosToUnixNanos(r->createDate, r->createTime);
        t.access = dosToUnixNanos(r->accessDate, 0);
        t.modification = dosToUnixNanos(r->writeDate, r->writeTime);
    }
    return t;
}

RecordMeta FatVolume::meta(RecordId id) const {
    RecordMeta m = VolumeParser::meta(id);
    if (const FatEntry* r = rec(id)) m.mode = fat::unixMode(r->attributes, isDirectory(id));
    return m;
}

ClusterGeometry FatVolume::geometry() const {
    return {clusterHeap_, clusterBytes_, chain_ ? chain_->clusterLimit : 0};
}

bool FatVolume::readsConsecutive(std::uint32_t first) {
    // Deleting a file (or the folder holding it) frees its chain: the entry
    // of its first cluster reads 0. Its data is then taken from consecutive
    // clusters, as on a formatted drive; a live file's first entry is never free.
    return g_driveFormatted.load() || (first >= 2 && first < chain_->clusterLimit && chain_->entry(first) == 0);
}

ContentResult FatVolume::readContent(RecordId id, ContentSink& sink) {
    ContentResult res;
    const FatEntry* r = rec(id);
    if (!r || !chain_ || clusterBytes_ == 0 || !source) {
        res.reason = "no such file";
        return res;
    }
    const std::uint32_t c = r->firstCluster();
    const bool consecutive = readsConsecutive(c);
    res.readable = true;
    res.expectedSize = r->size;
    if (parsedMode != RecoveryMode::Standard) res.origin = ContentOrigin::Scan;
    else if (consecutive) res.origin = ContentOrigin::DeletedAssumedContiguous;
    else if (r->deleted) res.origin = ContentOrigin::DeletedChainIntact;
    ContentStream out(sink, source, r->size);
    const auto read = streamClusterData(out, *source, geometry(), chain_.get(), c, r->size, consecutive);
    // A chain that ends early or loops leaves the rest of the size missing.
    if (const char* why = endCause(read.end)) out.finish(why);
    res.stopped = out.refused() || read.end == ClusterReadResult::End::Stopped;
    return res;
}

std::vector<std::uint8_t> FatVolume::readFileBytes(RecordId id, std::uint64_t maxBytes) {
    const FatEntry* r = rec(id);
    if (!r || r->size > maxBytes) return {};
    MemorySink data;
    readContent(id, data);
    return std::move(data.bytes);
}

void FatVolume::renameRecord(RecordId id, const std::u16string& newName) {
    if (id >= 0) entries_.rename(std::size_t(id), newName);
}

}  // namespace salvage::fat
