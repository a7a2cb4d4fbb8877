#include "fs/ext/ext2Class.h"

#include <algorithm>

#include "fs/ext/ExtDirectory.h"
#include "platform/AppTitle.h"
#include "platform/Text.h"

namespace salvage {

using namespace ext;

bool ext2Class::takeStop() {
    if (!pollStop()) return false;
    stopRequested.store(false);
    return true;
}

bool ext2Class::readBytes(std::uint64_t offset, std::vector<std::uint8_t>& buf, std::size_t count) const {
    buf.assign(count, 0);
    if (!source || count > UINT32_MAX || offset > std::uint64_t(INT64_MAX)) return false;
    return readAt(*source, std::int64_t(offset), buf.data(), std::uint32_t(count));
}

bool ext2Class::readInode(std::uint64_t tableBlock, std::uint32_t slot, std::vector<std::uint8_t>& inode) const {
    std::uint64_t at = 0;
    if (!checkedMul(tableBlock, std::uint64_t(geometry.blockSize), at) ||
        !checkedAdd(at, std::uint64_t(slot) * geometry.inodeSize, at))
        return false;
    return readBytes(at, inode, geometry.inodeSize);
}

BlockReader ext2Class::blockReader() const {
    return [this](std::uint64_t block, std::vector<std::uint8_t>& out) {
        std::uint64_t at = 0;
        if (!checkedMul(block, std::uint64_t(geometry.blockSize), at)) return false;
        return readBytes(at, out, geometry.blockSize);
    };
}

CollectLimits ext2Class::limitsFor(std::uint64_t size) const {
    CollectLimits l;
    std::uint64_t bs = geometry.blockSize ? geometry.blockSize : 1;
    l.fileBlocks = size / bs + (size % bs ? 1 : 0);
    std::uint64_t volumeBlocks = volumeBytes / bs;
    l.budget = volumeBlocks < 64 ? 64 : volumeBlocks;
    return l;
}

const ExtEntry* ext2Class::find(RecordId id) const {
    if (id < 0 || id > RecordId(UINT32_MAX)) return nullptr;
    const RecordIndex at = positionOf(std::uint32_t(id));
    return at < records_.size() ? &records_[at] : nullptr;
}

RecordIndex ext2Class::positionOf(std::uint32_t key) const {
    if (!keyed_) return kNoLink;
    auto at = std::lower_bound(records_.begin(), records_.end(), key,
                               [](const ExtEntry& e, std::uint32_t k) { return e.index < k; });
    return at != records_.end() && at->index == key ? RecordIndex(at - records_.begin()) : kNoLink;
}

ParseResult ext2Class::parse(RecoveryMode) {
    if (!attachSource()) return ParseResult::Failed;
    volumeBytes = std::uint64_t(salvage::volumeBytes(volume));
    if (volumeBytes == 0) return ParseResult::Failed;
    if (!locateSuperblock()) return ParseResult::Failed;
    if (!readGroupDescriptors()) return ParseResult::Failed;
    readInodeTables();
    readDirectories();
    buildTable();
    linkChildren();
    fillRootEntries();
    return ParseResult::Done;
}

bool ext2Class::attachSource() {
    if (!source) return false;
    source->baseOffset = volume.startSector * kSectorBytes;
    return source->seek(0, 0);
}

bool ext2Class::locateSuperblock() {
    if (volumeBytes <= 1536) return false;
    std::vector<std::uint8_t> sb;
    for (std::uint64_t candidate = 1024;;) {
        // A read that fails lies past the image's end: nothing further can be found.
        bool read = readBytes(candidate, sb, kSuperblockBytes);
        geometry = decodeSuperblock(ByteView(sb));
        if (takeStop()) return geometry.magicOk;
        if (!read) return false;
        if (geometry.valid()) {
            superblockOffset = candidate;
            std::u16string version = versionText(geometry.roCompat);
            if (!version.empty()) reporter->message(version, kAppTitle, MessageIcon::Information);
            return true;
        }
        std::uint64_t next = candidate + 512;
        if (!(next + 512 < volumeBytes)) return false;
        candidate = next;
    }
}

bool ext2Class::readGroupDescriptors() {
    if (!geometryUsable(geometry, volumeBytes)) return false;
    std::uint64_t block = superblockOffset / geometry.blockSize + 1;
    std::uint64_t length = std::uint64_t(geometry.groupCount) * geometry.descriptorSize;
    if (length % geometry.blockSize) length = (length + 511) / 512 * 512;
    return readBytes(block * geometry.blockSize, descriptors_, length);
}

void ext2Class::readInodeTables() {
    records_.clear();
    keyed_ = false;
    names_.clear();
    chains_.clear();
    // Room for every slot the groups hold, at most as many as the volume
    // has room for (the superblock's inode count may claim anything).
    std::uint64_t slots = std::min<std::uint64_t>(geometry.inodeCount,
                                                  std::uint64_t(geometry.groupCount) * geometry.inodesPerGroup);
    if (geometry.inodeSize) slots = std::min<std::uint64_t>(slots, volumeBytes / geometry.inodeSize);
    records_.reserve(std::size_t(slots));
    const std::uint32_t groups = geometry.groupCount;
    const std::uint64_t tableBytes = std::uint64_t(geometry.inodesPerGroup) * geometry.inodeSize;
    reporter->setProgressRange(0, groups);
    std::vector<std::uint8_t> table;
    std::uint64_t counter = 0;
    for (std::uint32_t g = 0; g < groups; ++g, counter += geometry.inodesPerGroup) {
        if (records_.size() >= geometry.inodeCount) break;
        if (takeStop()) break;
        reporter->setStatus(format16("parsing group %u  of %u ", g + 1, groups));
        reporter->setProgressPosition(g + 1);
        ByteView desc = ByteView(descriptors_).sub(std::size_t(g) * geometry.descriptorSize, geometry.descriptorSize);
        std::uint64_t tableBlock = descriptorInodeTable(desc, geometry);
        std::uint64_t at = 0;
        if (!checkedMul(tableBlock, std::uint64_t(geometry.blockSize), at) || !readBytes(at, table, tableBytes))
            continue;
        ByteView tv(table);
        for (std::uint32_t i = 0; i < geometry.inodesPerGroup && records_.size() < geometry.inodeCount; ++i) {
            InodeFields f = decodeInode(tv.sub(std::size_t(i) * geometry.inodeSize, geometry.inodeSize));
            ExtEntry e;
            e.index = std::uint32_t(counter + i);
            e.mode = f.mode;
            e.inodeMode = f.mode;
            e.size = f.size;
            e.changeTime = f.changeTime;
            e.accessTime = f.accessTime;
            e.modificationTime = f.modificationTime;
            e.changeNanos = f.changeNanos;
            e.accessNanos = f.accessNanos;
            e.modificationNanos = f.modificationNanos;
            e.inodeTableBlock = tableBlock;
            e.slotInGroup = i;
            records_.push_back(std::move(e));
        }
    }
}

void ext2Class::readDirectories() {
    const std::uint32_t entryCount = std::uint32_t(records_.size());
    reporter->setProgressRange(0, entryCount);
    std::uint32_t parentHolder = 0;
    bool metAny = false;
    std::vector<std::uint8_t> table, block;
    const BlockReader reader = blockReader();
    const std::uint64_t tableBytes = std::uint64_t(geometry.inodesPerGroup) * geometry.inodeSize;
    // Each block belongs to at most one directory, so the whole pass reads no
    // more blocks than the volume has: directories that share or loop over
    // blocks cannot make it quadratic.
    std::uint64_t passBudget = limitsFor(0).budget;

    std::function<void(std::uint32_t, std::uint8_t)> typeSeen = [&](std::uint32_t inode, std::uint8_t type) {
        if (inode == 0 || inode >= entryCount) return;
        if (type == kFileTypeDirectory) records_[inode - 1].mode = kModeFolder;
        else if (type == kFileTypeRegular) records_[inode - 1].mode = kModeFile;
    };
    auto visit = [&](const DirEntry& e) {
        bool first = !metAny;
        metAny = true;
        if (first) {
            parentHolder = e.inode;  // the root's "." names the root itself, under ROOT's key
        } else if (e.name == "." || e.name == "..") {
            // The directory's own and its parent's entries add no record.
            // The parent of what follows is the directory being walked,
            // never what a "." entry names: a stray "." must not move the
            // rest of the directory elsewhere.
            return;
        }
        if (e.inode >= 1 && e.inode < entryCount) {
            ExtEntry& r = records_[e.inode - 1];
            // A name given again (a hard link) replaces the first; the
            // arena keeps both, bounded by the directory blocks read.
            r.name = names_.add(e.name);
            r.named = true;
            r.parent = std::int32_t(parentHolder);
        }
    };

    for (std::uint64_t n = 0; n < entryCount; n += geometry.inodesPerGroup) {
        if (takeStop()) break;
        reporter->setStatus(format16("parsing inode entry %llu  of %u ", (unsigned long long)(n + 1), entryCount));
        reporter->setProgressPosition(std::int64_t(n + 1));
        std::uint64_t at = 0;
        if (!checkedMul(records_[n].inodeTableBlock, std::uint64_t(geometry.blockSize), at) ||
            !readBytes(at, table, tableBytes))
            continue;
        ByteView tv(table);
        for (std::uint32_t i = 0; i < geometry.inodesPerGroup; ++i) {
            ByteView inode = tv.sub(std::size_t(i) * geometry.inodeSize, geometry.inodeSize);
            InodeFields f = decodeInode(inode);
            // Only real directories: a device or socket whose mode shares the
            // folder bit holds a device number, not blocks of entries.
            if (le32(inode, kInodeBlockArea) == 0 || (f.mode & kModeTypeMask) != kModeFolder) continue;
            if (f.flags & kInodeFlagInlineData) continue;
            if (passBudget == 0) break;
            const std::uint64_t index = n + i;
            if (metAny) parentHolder = index + 1 == kRootKey ? kRootKey : std::uint32_t(index);
            CollectLimits limits = limitsFor(f.size);
            limits.budget = passBudget;
            passBudget -= collectBlocks(inode, geometry, limits, reader, blockList_);
            for (const BlockRun& run : blockList_) {
                if (run.unwritten) continue;
                for (std::uint64_t b = 0; b < run.count; ++b) {
                    if (!reader(run.physical + b, block)) continue;
                    walkDirectoryBlock(ByteView(block), geometry.typedDirEntries, entryCount,
                                       geometry.typedDirEntries ? typeSeen : nullptr, visit);
                }
            }
        }
    }
    reporter->setStatus(format16("parsed inode entry %u  of %u ", entryCount, entryCount));
    reporter->setProgressPosition(entryCount);
}

void ext2Class::buildTable() {
    reporter->setStatus(u"clearing vector....");
    // Keep the named records in place, in key order (the inode pass made
    // the keys ascending), then ROOT under its key, replacing a record
    // named there.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < records_.size(); ++i)
        if (records_[i].named) records_[kept++] = records_[i];
    records_.resize(kept);
    ExtEntry root;
    root.name = names_.add("ROOT");
    root.named = true;
    root.index = kRootKey;
    root.mode = kModeFolder;
    auto at = std::lower_bound(records_.begin(), records_.end(), kRootKey,
                               [](const ExtEntry& e, std::uint32_t key) { return e.index < key; });
    if (at != records_.end() && at->index == kRootKey) *at = root;
    else records_.insert(at, root);
    // Most slots of a volume are unused: give their room back.
    if (records_.size() < records_.capacity() / 2) records_.shrink_to_fit();
    // Found by binary search: a column over every inode number would cost
    // 4 bytes per inode of the volume, used or not.
    keyed_ = true;
    chains_.reset(records_.size());
}

void ext2Class::linkChildren() {
    reporter->setStatus(u"Maintaining Parent Child....");
    const std::size_t total = records_.size();
    reporter->setProgressRange(0, std::int64_t(total));
    for (std::size_t k = 0; k < total; ++k) {
        if (takeStop()) break;
        reporter->setStatus(format16("Maintaining Parent Child for record %zu of %zu....", k, total));
        reporter->setProgressPosition(std::int64_t(k + 1));
        const ExtEntry& entry = records_[k];
        if (entry.parent <= 0) continue;
        const RecordIndex p = positionOf(std::uint32_t(entry.parent));
        if (p == kNoLink || p == k) continue;
        // Head insertion: children come in descending key order.
        chains_.prepend(p, RecordIndex(k));
    }
}

void ext2Class::fillRootEntries() {
    reporter->setStatus(u"filling root entries in  tree....");
    if (!tree) return;
    rootItem = tree->insertItem(kRootText, ItemImage::Folder);
    tree->setItemData(rootItem, kRootKey);
    forEachChild(kRootKey, [&](RecordId id) {
        const ExtEntry* e = find(id);
        TreeItem item = tree->insertItem(name(id), e->isFolder() ? ItemImage::Folder : ItemImage::File, rootItem);
        tree->setItemData(item, id);
        return true;
    });
    tree->expand(rootItem);
}

bool ext2Class::isDirectory(RecordId id) const {
    const ExtEntry* e = find(id);
    return e && e->isFolder();
}

std::u16string ext2Class::name(RecordId id) const {
    const ExtEntry* e = find(id);
    return e ? ansiToUtf16(names_.view(e->name)) : std::u16string();
}

bool ext2Class::hasChildren(RecordId id) const {
    bool any = false;
    forEachChild(id, [&](RecordId) {
        any = true;
        return false;
    });
    return any;
}

void ext2Class::forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const {
    const ExtEntry* e = find(id);
    if (!e) return;
    chains_.forEachChild(RecordIndex(e - records_.data()), [&](RecordIndex c) {
        const ExtEntry& child = records_[c];
        // Key 0 (inode 1, never a directory entry's on a sound volume) ends
        // the chain, as it always has.
        if (child.index == 0 || child.index > std::uint32_t(INT32_MAX)) return false;
        return !(child.isFolder() || child.isFile()) || visit(RecordId(child.index));
    });
}

}  // namespace salvage
