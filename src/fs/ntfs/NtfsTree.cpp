// Linking entries under their parents, the orphan entry, the Deep-mode
// grouping, the first tree level and the Recycle Bin names.
#include <algorithm>
#include <map>

#include "fs/ntfs/ntfs.h"
#include "platform/Text.h"

namespace salvage {

using namespace ntfs_disk;

namespace {
constexpr char16_t kOrphanName[] = u"ORPHAN_ENTRY";
// "$I" files of this size or more are not Recycle Bin information files.
constexpr std::size_t kRecycleInfoLimit = 2048;

}  // namespace

std::int64_t ntfs::recordOffsetOf(std::uint64_t number) const {
    if (mftLocated_) {
        // The orphan entry and the stream entries after it are no records.
        if (number >= entries_.size() || (orphanIndex_ >= 0 && number >= std::uint64_t(orphanIndex_))) return -1;
        return entries_[std::size_t(number)].recordOffset;
    }
    auto it = scannedRecords_.find(std::uint32_t(number));
    return number <= UINT32_MAX && it != scannedRecords_.end() ? it->second : -1;
}

void ntfs::resolveExtensionRecords() {
    std::unordered_map<std::uint32_t, std::int64_t> byNumber;
    if (!mftLocated_)
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].isFile()) byNumber.emplace(entries_[i].recordNumber, std::int64_t(i));
    for (NtfsEntry& e : entries_) {
        if (!e.hasName || e.baseReference == 0) continue;
        NtfsEntry base;
        if (mftLocated_) {
            if (e.baseReference >= entries_.size()) continue;
            base = entries_[std::size_t(e.baseReference)];
        } else if (auto it = byNumber.find(std::uint32_t(e.baseReference)); it != byNumber.end()) {
            base = entries_[std::size_t(it->second)];
        } else if (auto s = scannedRecords_.find(std::uint32_t(e.baseReference)); s != scannedRecords_.end()) {
            Record raw;
            readRecord(s->second, raw);
            decodeEntry(base, ByteView(raw.data(), raw.size()));
        } else {
            continue;
        }
        if (!base.isFile()) continue;
        // The base record holds $STANDARD_INFORMATION and the attribute list.
        e.creation = base.creation;
        e.modification = base.modification;
        e.access = base.access;
        e.recordChange = base.recordChange;
        if (e.dataSize < 0) e.dataSize = base.dataSize;
        e.hasAttributeList = e.hasAttributeList || base.hasAttributeList;
    }
}

void ntfs::parseAllEntries() {
    resolveExtensionRecords();
    NtfsEntry orphan;
    orphan.signature = {'F', 'I', 'L', 'E'};
    orphan.name = kOrphanName;
    orphan.hasName = true;
    orphan.kind = 'D';
    orphan.recordFlags = 1;
    orphan.selfIndex = std::int64_t(entries_.size());
    orphan.dataSize = 0;
    entries_.push_back(orphan);
    orphanIndex_ = orphan.selfIndex;
    const std::int64_t n = std::int64_t(entries_.size());
    rootIndex_ = n;
    for (std::int64_t i = 0; i < orphanIndex_; ++i)
        if (entries_[std::size_t(i)].isFile() && entries_[std::size_t(i)].name == u".") {
            rootIndex_ = i;
            break;
        }
    reporter->setProgressRange(0, n);
    if (mode == RecoveryMode::Deep) {
        groupDeep();
    } else {
        linkEntries();
        adoptOrphans();
    }
    addStreamEntries();
    reporter->setProgressPosition(n);
    buildFirstLevel();
}

void ntfs::addStreamEntries() {
    std::unordered_map<std::uint32_t, std::int64_t> byNumber;
    if (!mftLocated_)
        for (std::int64_t i = 0; i < orphanIndex_; ++i)
            if (entries_[std::size_t(i)].isFile()) byNumber.emplace(entries_[std::size_t(i)].recordNumber, i);
    auto baseOf = [&](const NtfsEntry& e) -> std::int64_t {
        std::int64_t b = kNoLink;
        if (mftLocated_) {
            if (e.baseReference < std::uint64_t(orphanIndex_)) b = std::int64_t(e.baseReference);
        } else if (auto it = byNumber.find(std::uint32_t(e.baseReference));
                   e.baseReference <= UINT32_MAX && it != byNumber.end()) {
            b = it->second;
        }
        // Only a base record with an attribute list has extension records.
        if (b < 0 || !entries_[std::size_t(b)].isFile() || entries_[std::size_t(b)].baseReference != 0 ||
            !entries_[std::size_t(b)].hasAttributeList)
            return kNoLink;
        return b;
    };
    // Streams whose start lies in an extension record belong to its base.
    for (std::int64_t i = 0; i < orphanIndex_; ++i) {
        NtfsEntry& e = entries_[std::size_t(i)];
        if (e.baseReference == 0 || e.streams.empty()) continue;
        const std::int64_t b = baseOf(e);
        if (b < 0 || b == i) continue;
        for (NamedStream& st : e.streams) addStream(entries_[std::size_t(b)].streams, std::move(st));
        e.streams.clear();
    }
    for (std::int64_t i = 0; i < orphanIndex_; ++i) {
        // Only entries placed in a folder are listed (not the root, not the
        // MFT's own record, not unnamed records).
        {
            const NtfsEntry& e = entries_[std::size_t(i)];
            if (!e.isFile() || !e.hasName || i == rootIndex_ || e.parentIndex < 0) continue;
        }
        // An extension record that carries the file's name stands for the
        // file, and so for its base record's streams.
        std::int64_t holder = i;
        if (entries_[std::size_t(i)].baseReference != 0)
            if (const std::int64_t b = baseOf(entries_[std::size_t(i)]); b >= 0) holder = b;
        const std::size_t count = entries_[std::size_t(holder)].streams.size();
        std::int64_t after = i;
        for (std::size_t k = 0; k < count; ++k) {
            const NtfsEntry& file = entries_[std::size_t(i)];
            NtfsEntry s;
            s.signature = file.signature;
            s.recordOffset = file.recordOffset;
            s.name = entries_[std::size_t(holder)].streams[k].name;
            s.parentIndex = file.parentIndex;
            s.recordFlags = std::uint16_t(file.recordFlags & kRecordInUse);
            s.selfIndex = std::int64_t(entries_.size());
            s.orphaned = file.orphaned;
            s.recordNumber = file.recordNumber;
            s.baseReference = file.baseReference;
            s.fileNameFlags = file.fileNameFlags & ~kFileNameDirectory;
            s.creation = file.creation;
            s.modification = file.modification;
            s.access = file.access;
            s.recordChange = file.recordChange;
            s.dataSize = entries_[std::size_t(holder)].streams[k].size;
            s.hasName = true;
            s.hasAttributeList = file.hasAttributeList;
            s.streamOf = i;
            s.nextSibling = entries_[std::size_t(after)].nextSibling;
            entries_[std::size_t(after)].nextSibling = s.selfIndex;
            after = s.selfIndex;
            entries_.push_back(std::move(s));
        }
    }
}

void ntfs::linkEntries() {
    const std::int64_t n = std::int64_t(entries_.size());
    std::unordered_map<std::uint32_t, std::int64_t> byNumber;
    if (!mftLocated_)
        for (std::int64_t i = 0; i < orphanIndex_; ++i)
            if (entries_[std::size_t(i)].isFile())
                byNumber.emplace(entries_[std::size_t(i)].recordNumber, i);
    // Resolve each named entry's parent to a table index, orphaning those
    // whose parent is missing, unnamed or not a directory.
    for (std::int64_t i = 0; i < orphanIndex_; ++i) {
        NtfsEntry& e = entries_[std::size_t(i)];
        if (!e.isFile() || !e.hasName) continue;
        std::int64_t p = kNoLink;
        if (e.parentIndex >= 0) {
            if (mftLocated_) {
                p = e.parentIndex < orphanIndex_ ? e.parentIndex : kNoLink;
            } else if (auto it = byNumber.find(std::uint32_t(e.parentIndex));
                       it != byNumber.end() && e.parentIndex <= std::int64_t(UINT32_MAX)) {
                p = it->second;
            }
        }
        e.parentIndex = p;
        if (i == rootIndex_) continue;
        // Nothing is its own parent except the root. In the MFT walk index 0
        // is the MFT's own record: never a parent, and never listed.
        if (mftLocated_ && i == 0) {
            e.parentIndex = kNoLink;
            continue;
        }
        const std::int64_t lowest = mftLocated_ ? 1 : 0;
        const bool parentOk = p >= lowest && p != i && entries_[std::size_t(p)].isFile() &&
                              entries_[std::size_t(p)].hasName && entries_[std::size_t(p)].kind == 'D';
        e.orphaned = !parentOk;
    }
    breakParentLoops();
    std::vector<std::int64_t> lastChild(std::size_t(n), kNoLink);
    for (std::int64_t i = 0; i < orphanIndex_; ++i) {
        const NtfsEntry& e = entries_[std::size_t(i)];
        if (!e.isFile() || !e.hasName || e.orphaned || i == rootIndex_ || e.parentIndex < 0) continue;
        appendChild(e.parentIndex, i, lastChild);
        if (i % 4096 == 0) reporter->setProgressPosition(i);
    }
    if (rootIndex_ < orphanIndex_) {
        entries_[std::size_t(orphanIndex_)].parentIndex = rootIndex_;
        appendChild(rootIndex_, orphanIndex_, lastChild);
    }
}

void ntfs::appendChild(std::int64_t parent, std::int64_t child, std::vector<std::int64_t>& lastChild) {
    NtfsEntry& p = entries_[std::size_t(parent)];
    if (lastChild[std::size_t(parent)] == kNoLink) p.firstChild = child;
    else entries_[std::size_t(lastChild[std::size_t(parent)])].nextSibling = child;
    entries_[std::size_t(child)].nextSibling = kNoLink;
    lastChild[std::size_t(parent)] = child;
}

void ntfs::breakParentLoops() {
    // An entry is placed when its parent chain reaches the root or an
    // orphaned entry. A chain that comes back to itself would make a loop
    // that no walk from the root reaches: the entry where the loop closes
    // goes under the orphan entry instead.
    enum : std::uint8_t { Unknown, Visiting, Placed };
    std::vector<std::uint8_t> state(entries_.size(), Unknown);
    std::vector<std::int64_t> path;
    for (std::int64_t i = 0; i < orphanIndex_; ++i) {
        path.clear();
        std::int64_t cur = i;
        while (cur >= 0 && cur < orphanIndex_) {
            const NtfsEntry& e = entries_[std::size_t(cur)];
            if (state[std::size_t(cur)] == Placed || !e.isFile() || !e.hasName || e.orphaned || cur == rootIndex_)
                break;
            if (state[std::size_t(cur)] == Visiting) {
                entries_[std::size_t(cur)].orphaned = true;
                break;
            }
            state[std::size_t(cur)] = Visiting;
            path.push_back(cur);
            cur = e.parentIndex;
        }
        for (std::int64_t v : path) state[std::size_t(v)] = Placed;
    }
}

void ntfs::adoptOrphans() {
    NtfsEntry& orphan = entries_[std::size_t(orphanIndex_)];
    for (std::int64_t i = 0; i < orphanIndex_; ++i) {
        NtfsEntry& e = entries_[std::size_t(i)];
        if (!e.orphaned || !e.hasName) continue;
        // The orphan entry lists the last adopted first.
        e.nextSibling = orphan.firstChild;
        orphan.firstChild = i;
        e.parentIndex = orphanIndex_;
    }
}

void ntfs::groupDeep() {
    // Scan order stands in for the lost parents: each directory found
    // holds the files found after it, and the orphan entry lists the
    // directories, the latest first.
    NtfsEntry& orphan = entries_[std::size_t(orphanIndex_)];
    std::int64_t current = orphanIndex_;
    std::int64_t directories = 0;
    for (std::int64_t i = 0; i < orphanIndex_; ++i) {
        NtfsEntry& e = entries_[std::size_t(i)];
        if (i == rootIndex_ || !e.hasName) continue;
        e.firstChild = e.nextSibling = kNoLink;
        if (e.kind == 'D' && directories <= kDeepDirectoryLimit) {
            ++directories;
            e.nextSibling = orphan.firstChild;
            orphan.firstChild = i;
            e.parentIndex = orphanIndex_;
            current = i;
        } else {
            NtfsEntry& dir = entries_[std::size_t(current)];
            e.nextSibling = dir.firstChild;
            dir.firstChild = i;
            e.parentIndex = current;
        }
        e.orphaned = true;
    }
}

void ntfs::buildFirstLevel() {
    if (!tree || rootItem == kNoItem) return;
    bool orphanShown = false;
    if (mode != RecoveryMode::Deep && rootIndex_ < orphanIndex_) {
        forEachChild(rootIndex_, [&](RecordId c) {
            const NtfsEntry& e = entries_[std::size_t(c)];
            TreeItem item = tree->insertItem(name(c), e.kind == 'D' ? ItemImage::Folder : ItemImage::File, rootItem);
            if (!e.inUse()) tree->setRed(item);
            tree->setItemData(item, c);
            if (c == orphanIndex_) orphanShown = true;
            return true;
        });
    }
    // The orphan entry is shown also when no root directory survives, so
    // that what was found stays reachable.
    if (!orphanShown) {
        TreeItem item = tree->insertItem(kOrphanName, ItemImage::Folder, rootItem);
        tree->setItemData(item, orphanIndex_);
    }
    tree->expand(rootItem);
}

void ntfs::renameRecycleBinFiles() {
    if (rootIndex_ < 0 || rootIndex_ >= orphanIndex_) return;
    std::vector<std::int64_t> bins, users;
    forEachChild(rootIndex_, [&](RecordId c) {
        const NtfsEntry& e = entries_[std::size_t(c)];
        if (e.kind == 'D' && e.streamOf < 0 && (e.name == u"$RECYCLE.BIN" || e.name == u"$RECYCLEBIN"))
            bins.push_back(c);
        return true;
    });
    for (std::int64_t bin : bins) {
        users.clear();
        forEachChild(bin, [&](RecordId c) {
            if (entries_[std::size_t(c)].kind == 'D' && entries_[std::size_t(c)].streamOf < 0) users.push_back(c);
            return true;
        });
        for (std::int64_t user : users) {
            std::map<std::u16string, std::u16string> former;
            forEachChild(user, [&](RecordId c) {
                const NtfsEntry& e = entries_[std::size_t(c)];
                // Stream entries carry the stream's name alone: never a "$I" file.
                if (e.name.rfind(u"$I", 0) != 0 || e.kind == 'D' || e.streamOf >= 0) return true;
                MemorySink sink(kRecycleInfoLimit);
                readContent(c, sink);
                if (!sink.overflow && sink.bytes.size() < kRecycleInfoLimit) {
                    std::u16string name = recycleBinFormerName(ByteView(sink.bytes));
                    if (!name.empty()) former[e.name] = std::move(name);
                }
                return true;
            });
            for (const auto& pair : former) {
                const std::u16string partner = u"$R" + pair.first.substr(2);
                const std::u16string& formerName = pair.second;
                forEachChild(user, [&](RecordId c) {
                    NtfsEntry& e = entries_[std::size_t(c)];
                    if (!e.name.empty() && e.streamOf < 0 && e.name == partner) e.name = formerName;
                    return true;
                });
            }
        }
    }
}

}  // namespace salvage
