// HFSP: entries from the catalog leaves, their child chains, and the first
// tree level under ROOT.
#include <algorithm>
#include <new>

#include "fs/hfsplus/HFSP.h"
#include "image/WindowReader.h"
#include "platform/Text.h"

namespace salvage {

using namespace hfsp;

namespace {
// Leaf-search nodes are read in blocks of this size.
constexpr std::uint32_t kLeafReadBytes = 1024 * 1024;
}  // namespace

void HFSP::collectEntries() {
    entries_.clear();
    byCnid_.clear();
    names_.clear();
    extents_.clear();
    chains_.clear();
    reporter->setProgressRange(0, std::int64_t(catalogNodes.size()));
    reserveEntries();
    std::vector<std::uint8_t> node;
    // Nodes the leaf search found come in volume order, most of them side
    // by side: they are read up to a megabyte at a time, each block reaching
    // only as far as the found nodes that fit in it.
    WindowReader leaves(*source, catalogNodeSize, kLeafReadBytes);
    std::size_t ahead = 0;
    for (std::size_t i = 0; i < catalogNodes.size(); ++i) {
        const BTreeNodeInfo& info = catalogNodes[i];
        if (info.kind != kLeafNode) continue;
        if (pollStop()) break;
        reporter->setProgressPosition(std::int64_t(i));
        ByteView v;
        if (leafScanUsed) {
            // Offsets from the search lie inside the volume.
            const std::uint64_t reach = info.nodeOffset + kLeafReadBytes;
            ahead = std::max(ahead, i);
            while (ahead < catalogNodes.size() && catalogNodes[ahead].nodeOffset >= info.nodeOffset &&
                   catalogNodes[ahead].nodeOffset + catalogNodeSize <= reach)
                ++ahead;
            v = leaves.at(std::int64_t(info.nodeOffset),
                          std::int64_t(catalogNodes[ahead - 1].nodeOffset + catalogNodeSize));
        } else {
            readForkBytes(catalogFork, info.nodeOffset, node, catalogNodeSize);
            v = ByteView(node);
        }
        for (std::uint16_t off : info.recordOffsets) {
            if (off >= catalogNodeSize) continue;
            auto rec = decodeCatalogRecord(v, off);
            if (!rec || rec->cnid == 0 || entries_.size() >= kNoLink) continue;
            HfsEntry e;
            e.kind = rec->type;
            e.parentId = rec->parentId;
            e.cnid = rec->cnid;
            e.name = names_.add(rec->name);
            if (e.kind == kFile) {
                e.size = rec->dataFork.logicalSize;
                e.totalBlocks = rec->dataFork.totalBlocks;
                e.firstExtent = std::uint32_t(extents_.size());
                for (const Extent& x : rec->dataFork.extents)
                    if (x.startBlock != 0 && extents_.size() < UINT32_MAX) {
                        extents_.push_back(x);
                        ++e.extentCount;
                    }
            }
            e.createDate = rec->createDate;
            e.contentModDate = rec->contentModDate;
            e.attributeModDate = rec->attributeModDate;
            e.accessDate = rec->accessDate;
            e.ownerId = rec->ownerId;
            e.groupId = rec->groupId;
            e.fileMode = rec->fileMode;
            entries_.push_back(e);
        }
    }
    indexByCnid();
    stopRequested = false;
}

void HFSP::reserveEntries() {
    // Every record the leaves list, but never more than their bytes can
    // hold (a record takes at least 32): a hostile node count cannot ask
    // for more memory than the catalog's own size.
    std::uint64_t listed = 0, leaves = 0;
    for (const BTreeNodeInfo& info : catalogNodes)
        if (info.kind == kLeafNode) {
            listed += info.recordOffsets.size();
            ++leaves;
        }
    listed = std::min<std::uint64_t>({listed, leaves * (catalogNodeSize / 32), kNoLink});
    try {
        entries_.reserve(std::size_t(listed));
    } catch (const std::bad_alloc&) {
        // The table grows as records come instead.
    }
}

void HFSP::indexByCnid() {
    byCnid_.resize(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) byCnid_[i] = {entries_[i].cnid, RecordIndex(i)};
    auto byKey = [](const CnidPosition& a, const CnidPosition& b) {
        return a.cnid != b.cnid ? a.cnid < b.cnid : a.position < b.position;
    };
    std::sort(byCnid_.begin(), byCnid_.end(), byKey);
    // The first record under a cnid wins; later copies are dropped.
    auto sameCnid = [](const CnidPosition& a, const CnidPosition& b) { return a.cnid == b.cnid; };
    byCnid_.erase(std::unique(byCnid_.begin(), byCnid_.end(), sameCnid), byCnid_.end());
    if (byCnid_.size() == entries_.size()) return;
    // Copies found by the leaf search: keep only the entries that won.
    std::vector<bool> kept(entries_.size(), false);
    for (const CnidPosition& k : byCnid_) kept[k.position] = true;
    std::size_t n = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (kept[i]) entries_[n++] = entries_[i];
    entries_.resize(n);
    entries_.shrink_to_fit();
    for (std::size_t i = 0; i < n; ++i) byCnid_[i] = {entries_[i].cnid, RecordIndex(i)};
    std::sort(byCnid_.begin(), byCnid_.end(), byKey);
}

RecordIndex HFSP::positionOf(std::uint32_t cnid) const {
    auto it = std::lower_bound(byCnid_.begin(), byCnid_.end(), cnid,
                               [](const CnidPosition& k, std::uint32_t c) { return k.cnid < c; });
    return it != byCnid_.end() && it->cnid == cnid ? it->position : kNoLink;
}

void HFSP::linkChildren() {
    reporter->setStatus(u"Maintaining Parent Child....");
    reporter->setProgressRange(0, std::int64_t(byCnid_.size()));
    if (leafScanUsed) {
        if (!byCnid_.empty()) linkSearched();
    } else {
        linkStandard();
    }
    stopRequested = false;
}

// Each entry joins the head of its parent's chain, so every entry sits in at
// most one chain and no chain can loop. The result equals following each
// chain to its end before inserting, done in linear time.
void HFSP::linkStandard() {
    chains_.reset(entries_.size());
    const int count = int(byCnid_.size());
    int k = 0;
    for (const CnidPosition& at : byCnid_) {
        if (pollStop()) break;
        reporter->setStatus(format16("Maintaining Parent Child for record %d of %d....", k, count));
        reporter->setProgressPosition(++k);
        const HfsEntry& e = entries_[at.position];
        if (e.parentId == 0 || e.parentId == at.cnid) continue;
        const RecordIndex p = positionOf(e.parentId);
        if (p == kNoLink || entries_[p].kind != kFolder) continue;
        // A parent whose own parent is this entry would close a loop, once
        // its chain is longer than one.
        const RecordIndex first = chains_.firstChild(p);
        if (first != kNoLink && chains_.nextSibling(first) != kNoLink && entries_[p].parentId == at.cnid) continue;
        chains_.prepend(p, at.position);
    }
}

// Leaves found by searching give no trustworthy parents: every folder goes
// under ORPHAN_ENTRY, and every file into the folder with the largest cnid
// below its own.
void HFSP::linkSearched() {
    std::uint32_t largest = byCnid_.back().cnid;
    orphanKey = largest + 1;
    if (largest == UINT32_MAX) {
        // No key above the largest: take the highest free one below it.
        orphanKey = largest;
        while (orphanKey > 0 && positionOf(orphanKey) != kNoLink) --orphanKey;
    }
    RecordIndex orphan = kNoLink;
    if (largest > 1 && orphanKey != 0) {
        HfsEntry o;
        o.kind = kFolder;
        o.parentId = kRootFolderId;
        o.cnid = orphanKey;
        o.name = names_.add(u"ORPHAN_ENTRY");
        orphan = RecordIndex(entries_.size());
        entries_.push_back(o);
        const CnidPosition at{orphanKey, orphan};
        byCnid_.insert(std::upper_bound(byCnid_.begin(), byCnid_.end(), at,
                                        [](const CnidPosition& a, const CnidPosition& b) { return a.cnid < b.cnid; }),
                       at);
    }
    chains_.reset(entries_.size());
    RecordIndex latest = orphan;
    bool folderMet = false;
    for (const CnidPosition& at : byCnid_) {
        if (at.position == orphan) continue;
        HfsEntry& e = entries_[at.position];
        if (e.kind == kFolder) {
            if (orphan == kNoLink) continue;
            e.parentId = orphanKey;
            // The first folder starts ORPHAN_ENTRY's chain afresh: files met
            // before any folder drop out of it.
            if (!folderMet) chains_.unlink(orphan);
            folderMet = true;
            chains_.prepend(orphan, at.position);
            latest = at.position;
        } else if (latest != kNoLink) {
            chains_.prepend(latest, at.position);
        }
    }
}

void HFSP::fillRootEntries() {
    if (!tree) return;
    long long i = 0;
    for (const CnidPosition& at : byCnid_) {
        if (pollStop()) break;
        const HfsEntry& e = entries_[at.position];
        if (e.parentId == kRootFolderId) {
            bool folder = e.kind == kFolder;
            TreeItem item =
                tree->insertItem(names_.text(e.name), folder ? ItemImage::Folder : ItemImage::File, rootItem);
            tree->setItemData(item, at.cnid);
            reporter->setStatus(format16(folder ? "found folder at Node %lld" : "found file at Node %lld", i));
        }
        ++i;
    }
    if (rootItem != kNoItem) tree->expand(rootItem);
}

// --- the entries by catalog ID ---

HfsEntriesByCnid::iterator::reference HfsEntriesByCnid::iterator::operator*() const {
    const HFSP::CnidPosition& at = parser_->byCnid_[at_];
    const HfsEntry& e = parser_->entries_[at.position];
    return {at.cnid, Row{e.kind, e.parentId, parser_->names_.view(e.name)}};
}

std::size_t HfsEntriesByCnid::size() const { return parser_.byCnid_.size(); }

std::size_t HfsEntriesByCnid::count(std::uint32_t cnid) const { return parser_.positionOf(cnid) != kNoLink; }

}  // namespace salvage
