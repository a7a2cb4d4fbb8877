// The parse of each recovery mode and the per-record answers of the
// browse contract.
#include "fs/ntfs/ntfs.h"

#include "browse/DisplayFormats.h"
#include "platform/Text.h"

namespace salvage {

namespace {
// The sectors-per-cluster choices of the Advanced mode, in the order offered.
constexpr int kSectorsPerClusterChoices[] = {8, 4, 2, 16, 32, 64};

std::u16string timeText(std::uint64_t fileTime) {
    return fileTime ? formatListTime(fileTimeToUnixNanos(fileTime)) : std::u16string();
}
std::optional<UnixNanos> timeValue(std::uint64_t fileTime) {
    if (!fileTime) return std::nullopt;
    return fileTimeToUnixNanos(fileTime);
}
}  // namespace

ParseResult ntfs::parse(RecoveryMode m) {
    mode = m;
    if (!attachSource()) return ParseResult::Failed;
    if (tree) rootItem = tree->insertItem(kRootText, ItemImage::Folder);
    // Until the new table is linked there is no orphan entry and no root.
    orphanIndex_ = rootIndex_ = kNoLink;
    if (mode == RecoveryMode::Standard) {
        clearTable();
        scannedRecords_.clear();
        readBootSector();
        locateMft();
        collectMftRecords();
    } else if (mode == RecoveryMode::Advanced) {
        if (candidates_.empty()) {
            readBootSector();
            scanForMftCandidates(std::max<std::int64_t>(3, advancedChoice.candidate + 1));
        } else if (!bootRead_) {
            readBootSector();
        }
        clearTable();
        scannedRecords_.clear();
        useCandidate(std::max(0, advancedChoice.candidate));
        const int choice = advancedChoice.sectorsPerCluster;
        const int spc = choice >= 0 && choice < 6 ? kSectorsPerClusterChoices[choice] : kSectorsPerClusterChoices[0];
        bytesPerCluster = std::int64_t(spc) * 512;
        collectMftRecords();
    } else {
        readBootSector();
        scanAllRecords();
    }
    parseAllEntries();
    return ParseResult::Done;
}

std::int64_t ntfs::findAdvancedCandidates(std::int64_t maxCandidates) {
    if (!attachSource()) return 0;
    readBootSector();
    return scanForMftCandidates(maxCandidates);
}

AdvancedLists ntfs::advancedLists() const {
    AdvancedLists l;
    for (std::size_t i = 0; i < candidates_.size(); ++i) l.candidates.push_back(format16("MFT_ENTRY:%d", int(i)));
    for (int spc : kSectorsPerClusterChoices) l.sectorsPerCluster.push_back(format16("%d", spc));
    return l;
}

const NtfsEntry* ntfs::rec(RecordId id) const {
    return id >= 0 && std::uint64_t(id) < entries_.size() ? &entries_[std::size_t(id)] : nullptr;
}

bool ntfs::isValidRecord(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e && e->isFile() && e->hasName;
}
bool ntfs::isDirectory(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e && e->isDirectory();
}
bool ntfs::isDeleted(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e && !e->inUse();
}
std::u16string ntfs::name(RecordId id) const {
    const NtfsEntry* e = rec(id);
    if (!e) return {};
    // Composed on demand, so a file renamed by the Recycle Bin pass names
    // its streams too.
    if (const NtfsEntry* file = rec(streamOf(id))) {
        std::u16string composed(nameOf(*file));
        composed += u':';
        composed += nameOf(*e);
        return composed;
    }
    return std::u16string(nameOf(*e));
}
std::u16string ntfs::streamName(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e && streamOf(id) != kNoLink ? std::u16string(nameOf(*e)) : std::u16string();
}
RecordIndex ntfs::streamOf(RecordId id) const {
    if (id < 0 || std::uint64_t(id) >= entries_.size() || firstStream_ == kNoLink || id < RecordId(firstStream_))
        return kNoLink;
    const std::uint64_t k = std::uint64_t(id) - firstStream_;
    return k < streamOf_.size() ? streamOf_[std::size_t(k)] : kNoLink;
}
bool ntfs::hasChildren(RecordId id) const {
    return rec(id) && chains_.hasChildren(RecordIndex(id));
}
void ntfs::forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const {
    if (!rec(id)) return;
    chains_.forEachChild(RecordIndex(id), [&](RecordIndex c) { return visit(RecordId(c)); });
}
std::u16string ntfs::creationTimeText(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e ? timeText(e->creation) : std::u16string();
}
std::u16string ntfs::accessTimeText(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e ? timeText(e->access) : std::u16string();
}
std::u16string ntfs::modificationTimeText(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e ? timeText(e->modification) : std::u16string();
}
std::u16string ntfs::sizeText(RecordId id) const {
    return rec(id) ? formatListSize(sizeBytes(id)) : std::u16string();
}
std::u16string ntfs::attributeText(RecordId id) const {
    const NtfsEntry* e = rec(id);
    return e ? ntfs_disk::attributeLetters(e->fileNameFlags) : std::u16string();
}
std::uint64_t ntfs::sizeBytes(RecordId id) const {
    const std::int64_t s = displayedSize(id);
    return s > 0 ? std::uint64_t(s) : 0;
}
std::int64_t ntfs::recordNumber(RecordId id) const {
    const NtfsEntry* e = rec(id);
    if (const RecordIndex file = streamOf(id); e && file != kNoLink) return recordNumber(file);
    if (!e || mftLocated_ || id == orphanIndex_) return id;
    return e->recordNumber;
}

RecordTimes ntfs::times(RecordId id) const {
    RecordTimes t;
    if (const NtfsEntry* e = rec(id)) {
        t.creation = timeValue(e->creation);
        t.access = timeValue(e->access);
        t.modification = timeValue(e->modification);
    }
    return t;
}

RecordMeta ntfs::meta(RecordId id) const {
    RecordMeta m;
    if (const NtfsEntry* e = rec(id)) {
        const RecordTimes t = times(id);
        m.creation = t.creation;
        m.access = t.access;
        m.modification = t.modification;
        m.change = timeValue(e->recordChange);
    }
    return m;
}

}  // namespace salvage
