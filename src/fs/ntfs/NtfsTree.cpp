// Linking entries under their parents, the orphan entry, the Deep-mode
// grouping, the first tree level and the Recycle Bin names.
#include <algorithm>
#include <iterator>
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
        if (number >= entries_.size() || number >= orphanIndex_) return -1;
        return entries_[std::size_t(number)].recordOffset;
    }
    return number <= UINT32_MAX ? scannedOffsetOf(std::uint32_t(number)) : -1;
}

std::int64_t ntfs::scannedOffsetOf(std::uint32_t number) const {
    auto it = std::lower_bound(scannedRecords_.begin(), scannedRecords_.end(), number,
                               [](const NumberedOffset& r, std::uint32_t n) { return r.number < n; });
    return it != scannedRecords_.end() && it->number == number ? it->offset : -1;
}

RecordIndex ntfs::indexOfNumber(std::uint32_t number) const {
    auto it = std::lower_bound(byNumber_.begin(), byNumber_.end(), number,
                               [](const NumberedIndex& r, std::uint32_t n) { return r.number < n; });
    return it != byNumber_.end() && it->number == number ? it->index : kNoLink;
}

namespace {
// Sorts by record number, keeping the first of each number in the order
// given. That order is the rows' second field (offsets grow in scan order,
// indices in table order), which breaks ties. A scan meets a volume's
// records mostly in number order (the MFT in one or a few extents, its
// mirror elsewhere), so the rows are a few sorted runs: those are merged,
// two at a time; many runs are sorted whole.
template <class Rows, class Order>
void sortByNumber(Rows& rows, Order order) {
    using Row = typename Rows::value_type;
    auto less = [&](const Row& a, const Row& b) {
        return a.number != b.number ? a.number < b.number : order(a) < order(b);
    };
    constexpr std::size_t kMostRuns = 64;
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 1; i < rows.size() && starts.size() <= kMostRuns; ++i)
        if (less(rows[i], rows[i - 1])) starts.push_back(i);
    if (starts.size() > kMostRuns) {
        std::sort(rows.begin(), rows.end(), less);
    } else if (starts.size() > 1) {
        Rows merged;
        // At least one huge page: touched once instead of page by page.
        merged.reserve(std::max(rows.size(), kLargeTableBytes / sizeof(Row)));
        while (starts.size() > 1) {
            merged.clear();
            std::vector<std::size_t> next;
            for (std::size_t k = 0; k < starts.size(); k += 2) {
                next.push_back(merged.size());
                const auto a = rows.begin() + std::ptrdiff_t(starts[k]);
                const auto b = k + 1 < starts.size() ? rows.begin() + std::ptrdiff_t(starts[k + 1]) : rows.end();
                const auto c = k + 2 < starts.size() ? rows.begin() + std::ptrdiff_t(starts[k + 2]) : rows.end();
                std::merge(a, b, b, c, std::back_inserter(merged), less);
            }
            rows.swap(merged);
            starts = std::move(next);
        }
    }
    rows.erase(std::unique(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.number == b.number; }),
               rows.end());
}
}  // namespace

void ntfs::indexRecordNumbers() {
    sortByNumber(scannedRecords_, [](const NumberedOffset& r) { return r.offset; });
    byNumber_.clear();
    if (mftLocated_) return;
    // At least one huge page: touched once instead of page by page.
    byNumber_.reserve(std::max(entries_.size(), kLargeTableBytes / sizeof(NumberedIndex)));
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].isFile()) byNumber_.push_back({entries_[i].recordNumber, RecordIndex(i)});
    sortByNumber(byNumber_, [](const NumberedIndex& r) { return r.index; });
}

void ntfs::resolveExtensionRecords() {
    DecodedText text;
    for (NtfsEntry& e : entries_) {
        if (!e.hasName || e.baseReference == 0) continue;
        NtfsEntry base;
        if (mftLocated_) {
            if (e.baseReference >= entries_.size()) continue;
            base = entries_[std::size_t(e.baseReference)];
        } else if (const RecordIndex b = indexOfNumber(std::uint32_t(e.baseReference)); b != kNoLink) {
            base = entries_[b];
        } else if (const std::int64_t at = scannedOffsetOf(std::uint32_t(e.baseReference)); at >= 0) {
            Record raw;
            readRecord(at, raw);
            decodeEntry(base, ByteView(raw.data(), raw.size()), text);
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
    indexRecordNumbers();
    resolveExtensionRecords();
    NtfsEntry orphan;
    orphan.file = true;
    orphan.name = names_.add(kOrphanName);
    orphan.hasName = true;
    orphan.kind = NtfsKind::Directory;
    orphan.recordFlags = 1;
    orphan.dataSize = 0;
    orphanIndex_ = RecordIndex(entries_.size());
    entries_.push_back(orphan);
    const std::int64_t n = std::int64_t(entries_.size());
    rootIndex_ = kNoLink;
    for (RecordIndex i = 0; i < orphanIndex_; ++i)
        if (entries_[i].isFile() && nameOf(entries_[i]) == u".") {
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
    linkChains();
    reporter->setProgressPosition(n);
    // The number index serves the linking only.
    byNumber_.clear();
    byNumber_.shrink_to_fit();
    buildFirstLevel();
}

void ntfs::addStreamEntries() {
    firstStream_ = RecordIndex(entries_.size());
    streamOf_.clear();
    if (streams_.empty()) return;
    auto baseOf = [&](const NtfsEntry& e) -> RecordIndex {
        RecordIndex b = kNoLink;
        if (mftLocated_) {
            if (e.baseReference < orphanIndex_) b = RecordIndex(e.baseReference);
        } else if (e.baseReference <= UINT32_MAX) {
            b = indexOfNumber(std::uint32_t(e.baseReference));
        }
        // Only a base record with an attribute list has extension records.
        if (b == kNoLink || !entries_[b].isFile() || entries_[b].baseReference != 0 || !entries_[b].hasAttributeList)
            return kNoLink;
        return b;
    };
    // The rows of one record: streams_ lies in table order.
    auto rowsOf = [&](RecordIndex r) {
        auto lo = std::lower_bound(streams_.begin(), streams_.end(), r,
                                   [](const StreamRow& row, RecordIndex x) { return row.owner < x; });
        auto hi = lo;
        while (hi != streams_.end() && hi->owner == r) ++hi;
        return std::pair(lo, hi);
    };
    // Streams whose start lies in an extension record belong to its base:
    // they follow the base's own, in table order of the extension records,
    // once per name and up to the per-file bound.
    std::map<RecordIndex, std::vector<StreamRow>> gathered;
    for (std::size_t k = 0; k < streams_.size();) {
        const RecordIndex i = streams_[k].owner;
        const auto [lo, hi] = rowsOf(i);
        k = std::size_t(hi - streams_.begin());
        if (i >= orphanIndex_ || entries_[i].baseReference == 0) continue;
        const RecordIndex b = baseOf(entries_[i]);
        if (b == kNoLink || b == i) continue;
        const auto [own, ownEnd] = rowsOf(b);
        std::vector<StreamRow>& extra = gathered[b];
        for (auto row = lo; row != hi; ++row) {
            if (std::size_t(ownEnd - own) + extra.size() >= kMaxStreamsPerFile) break;
            const std::u16string_view name = names_.view(row->name);
            auto same = [&](const StreamRow& have) { return names_.view(have.name) == name; };
            if (std::any_of(own, ownEnd, same) || std::any_of(extra.begin(), extra.end(), same)) continue;
            extra.push_back(*row);
        }
    }
    // The streams a listed record stands for: an extension record that
    // carries the file's name stands for its base record's.
    auto holderOf = [&](RecordIndex i) -> RecordIndex {
        const NtfsEntry& e = entries_[i];
        // Only entries placed in a folder are listed (not the root, not the
        // MFT's own record, not unnamed records).
        if (!e.isFile() || !e.hasName || i == rootIndex_ || e.parent == kNoLink) return kNoLink;
        if (e.baseReference != 0)
            if (const RecordIndex b = baseOf(e); b != kNoLink) return b;
        return i;
    };
    auto countOf = [&](RecordIndex holder) {
        const auto [own, ownEnd] = rowsOf(holder);
        const auto g = gathered.find(holder);
        return std::size_t(ownEnd - own) + (g == gathered.end() ? 0 : g->second.size());
    };
    std::size_t total = 0;
    for (RecordIndex i = 0; i < orphanIndex_; ++i)
        if (const RecordIndex h = holderOf(i); h != kNoLink) total += countOf(h);
    total = std::min<std::size_t>(total, std::size_t(kNoLink) - 1 - entries_.size());
    if (total == 0) return;
    entries_.reserve(entries_.size() + total);
    streamOf_.reserve(total);
    for (RecordIndex i = 0; i < orphanIndex_ && streamOf_.size() < total; ++i) {
        const RecordIndex holder = holderOf(i);
        if (holder == kNoLink) continue;
        const auto [own, ownEnd] = rowsOf(holder);
        const auto g = gathered.find(holder);
        const std::size_t ownCount = std::size_t(ownEnd - own);
        const std::size_t count = countOf(holder);
        for (std::size_t k = 0; k < count && streamOf_.size() < total; ++k) {
            const StreamRow& row = k < ownCount ? own[std::ptrdiff_t(k)] : g->second[k - ownCount];
            const NtfsEntry& file = entries_[i];
            NtfsEntry s;
            s.file = file.file;
            s.recordOffset = file.recordOffset;
            s.name = row.name;
            s.parent = file.parent;
            s.recordFlags = std::uint16_t(file.recordFlags & kRecordInUse);
            s.orphaned = file.orphaned;
            s.recordNumber = file.recordNumber;
            s.baseReference = file.baseReference;
            s.fileNameFlags = file.fileNameFlags & ~kFileNameDirectory;
            s.creation = file.creation;
            s.modification = file.modification;
            s.access = file.access;
            s.recordChange = file.recordChange;
            s.dataSize = row.size;
            s.hasName = true;
            s.hasAttributeList = file.hasAttributeList;
            entries_.push_back(s);
            streamOf_.push_back(i);
        }
    }
    // Stream entries keep their names and sizes themselves.
    streams_.clear();
    streams_.shrink_to_fit();
}

void ntfs::linkEntries() {
    // Resolve each named entry's parent to a table index, orphaning those
    // whose parent is missing, unnamed or not a directory.
    for (RecordIndex i = 0; i < orphanIndex_; ++i) {
        NtfsEntry& e = entries_[i];
        if (!e.isFile() || !e.hasName) continue;
        RecordIndex p = kNoLink;
        if (e.hasParentReference) {
            if (mftLocated_) p = e.parent < orphanIndex_ ? e.parent : kNoLink;
            else p = indexOfNumber(e.parent);
        }
        e.parent = p;
        if (i == rootIndex_) continue;
        // Nothing is its own parent except the root. In the MFT walk index 0
        // is the MFT's own record: never a parent, and never listed.
        if (mftLocated_ && i == 0) {
            e.parent = kNoLink;
            continue;
        }
        const RecordIndex lowest = mftLocated_ ? 1 : 0;
        const bool parentOk = p != kNoLink && p >= lowest && p != i && entries_[p].isFile() &&
                              entries_[p].hasName && entries_[p].isDirectory();
        e.orphaned = !parentOk;
    }
    breakParentLoops();
    if (rootIndex_ < orphanIndex_) entries_[orphanIndex_].parent = rootIndex_;
}

void ntfs::breakParentLoops() {
    // An entry is placed when its parent chain reaches the root or an
    // orphaned entry. A chain that comes back to itself would make a loop
    // that no walk from the root reaches: the entry where the loop closes
    // goes under the orphan entry instead.
    enum : std::uint8_t { Unknown, Visiting, Placed };
    std::vector<std::uint8_t> state(entries_.size(), Unknown);
    std::vector<RecordIndex> path;
    for (RecordIndex i = 0; i < orphanIndex_; ++i) {
        path.clear();
        RecordIndex cur = i;
        while (cur < orphanIndex_) {
            const NtfsEntry& e = entries_[cur];
            if (state[cur] == Placed || !e.isFile() || !e.hasName || e.orphaned || cur == rootIndex_) break;
            if (state[cur] == Visiting) {
                entries_[cur].orphaned = true;
                break;
            }
            state[cur] = Visiting;
            path.push_back(cur);
            cur = e.parent;
        }
        for (RecordIndex v : path) state[v] = Placed;
    }
}

void ntfs::adoptOrphans() {
    for (RecordIndex i = 0; i < orphanIndex_; ++i) {
        NtfsEntry& e = entries_[i];
        if (e.orphaned && e.hasName) e.parent = orphanIndex_;
    }
}

void ntfs::groupDeep() {
    // Scan order stands in for the lost parents: each directory found
    // holds the files found after it, and the orphan entry lists the
    // directories.
    RecordIndex current = orphanIndex_;
    std::int64_t directories = 0;
    for (RecordIndex i = 0; i < orphanIndex_; ++i) {
        NtfsEntry& e = entries_[i];
        if (i == rootIndex_ || !e.hasName) continue;
        if (e.isDirectory() && directories <= kDeepDirectoryLimit) {
            ++directories;
            e.parent = orphanIndex_;
            current = i;
        } else {
            e.parent = current;
        }
        e.orphaned = true;
    }
}

void ntfs::linkChains() {
    chains_.reset(entries_.size());
    if (mode == RecoveryMode::Deep) {
        // The orphan entry lists the directories the latest first, and each
        // directory its files the same way.
        for (RecordIndex i = 0; i < orphanIndex_; ++i)
            if (i != rootIndex_ && entries_[i].hasName) chains_.prepend(entries_[i].parent, i);
    } else {
        // Children in record order, so linking is linear; the orphan entry
        // is the root's last child and lists the last adopted first.
        for (RecordIndex i = 0; i < orphanIndex_; ++i) {
            const NtfsEntry& e = entries_[i];
            if (!e.isFile() || !e.hasName || e.orphaned || i == rootIndex_ || e.parent == kNoLink) continue;
            chains_.append(e.parent, i);
            if (i % 4096 == 0) reporter->setProgressPosition(i);
        }
        if (rootIndex_ < orphanIndex_) chains_.append(rootIndex_, orphanIndex_);
        for (RecordIndex i = 0; i < orphanIndex_; ++i)
            if (entries_[i].orphaned && entries_[i].hasName) chains_.prepend(orphanIndex_, i);
    }
    chains_.finishLinking();
    // Each file's streams right after it in its folder's chain.
    for (std::size_t k = 0; k < streamOf_.size(); ++k) {
        const RecordIndex s = firstStream_ + RecordIndex(k);
        const RecordIndex previous = k > 0 && streamOf_[k - 1] == streamOf_[k] ? s - 1 : streamOf_[k];
        chains_.insertAfter(previous, s);
    }
}

void ntfs::buildFirstLevel() {
    if (!tree || rootItem == kNoItem) return;
    bool orphanShown = false;
    if (mode != RecoveryMode::Deep && rootIndex_ < orphanIndex_) {
        forEachChild(rootIndex_, [&](RecordId c) {
            const NtfsEntry& e = entries_[std::size_t(c)];
            TreeItem item = tree->insertItem(name(c), e.isDirectory() ? ItemImage::Folder : ItemImage::File, rootItem);
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
    if (rootIndex_ >= orphanIndex_) return;
    std::vector<RecordId> bins, users;
    // Stream entries carry the stream's name alone: never a bin, a user
    // folder or a "$I" file.
    auto plainDirectory = [&](RecordId c) {
        return entries_[std::size_t(c)].isDirectory() && streamOf(c) == kNoLink;
    };
    forEachChild(rootIndex_, [&](RecordId c) {
        const std::u16string_view n = nameOf(entries_[std::size_t(c)]);
        if (plainDirectory(c) && (n == u"$RECYCLE.BIN" || n == u"$RECYCLEBIN")) bins.push_back(c);
        return true;
    });
    for (RecordId bin : bins) {
        users.clear();
        forEachChild(bin, [&](RecordId c) {
            if (plainDirectory(c)) users.push_back(c);
            return true;
        });
        for (RecordId user : users) {
            std::map<std::u16string, std::u16string> former;
            forEachChild(user, [&](RecordId c) {
                const NtfsEntry& e = entries_[std::size_t(c)];
                const std::u16string_view n = nameOf(e);
                if (!n.starts_with(u"$I") || e.isDirectory() || streamOf(c) != kNoLink) return true;
                MemorySink sink(kRecycleInfoLimit);
                readContent(c, sink);
                if (!sink.overflow && sink.bytes.size() < kRecycleInfoLimit) {
                    std::u16string formerName = recycleBinFormerName(ByteView(sink.bytes));
                    if (!formerName.empty()) former[std::u16string(n)] = std::move(formerName);
                }
                return true;
            });
            for (const auto& pair : former) {
                const std::u16string partner = u"$R" + pair.first.substr(2);
                const std::u16string& formerName = pair.second;
                forEachChild(user, [&](RecordId c) {
                    NtfsEntry& e = entries_[std::size_t(c)];
                    const std::u16string_view n = nameOf(e);
                    if (!n.empty() && streamOf(c) == kNoLink && n == partner) e.name = names_.add(formerName);
                    return true;
                });
            }
        }
    }
}

}  // namespace salvage
