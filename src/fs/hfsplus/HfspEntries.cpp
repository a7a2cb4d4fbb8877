// HFSP: entries from the catalog leaves, their child chains, and the first
// tree level under ROOT.
#include "fs/hfsplus/HFSP.h"
#include "platform/Text.h"

namespace salvage {

using namespace hfsp;

void HFSP::collectEntries() {
    reporter->setProgressRange(0, std::int64_t(catalogNodes.size()));
    std::vector<std::uint8_t> node;
    for (std::size_t i = 0; i < catalogNodes.size(); ++i) {
        const BTreeNodeInfo& info = catalogNodes[i];
        if (info.kind != kLeafNode) continue;
        if (pollStop()) break;
        reporter->setProgressPosition(std::int64_t(i));
        if (leafScanUsed) {
            node.assign(catalogNodeSize, 0);
            readBytes(info.nodeOffset, node.data(), catalogNodeSize);
        } else {
            readForkBytes(catalogFork, info.nodeOffset, node, catalogNodeSize);
        }
        ByteView v(node);
        for (std::uint16_t off : info.recordOffsets) {
            if (off >= catalogNodeSize) continue;
            auto rec = decodeCatalogRecord(v, off);
            if (!rec || rec->cnid == 0) continue;
            HfsEntry e;
            e.kind = rec->type;
            e.parentId = rec->parentId;
            e.cnid = rec->cnid;
            e.name = std::move(rec->name);
            e.nodeOffset = info.nodeOffset;
            e.recordOffset = off;
            if (e.kind == kFile) {
                e.size = rec->dataFork.logicalSize;
                e.totalBlocks = rec->dataFork.totalBlocks;
                for (const Extent& x : rec->dataFork.extents)
                    if (x.startBlock != 0) e.extents.push_back(x);
            }
            e.createDate = rec->createDate;
            e.contentModDate = rec->contentModDate;
            e.attributeModDate = rec->attributeModDate;
            e.accessDate = rec->accessDate;
            e.ownerId = rec->ownerId;
            e.groupId = rec->groupId;
            e.fileMode = rec->fileMode;
            // The first record under a cnid wins; later copies are dropped.
            entryMap.emplace(e.cnid, std::move(e));
        }
    }
    stopRequested = false;
}

void HFSP::linkChildren() {
    reporter->setStatus(u"Maintaining Parent Child....");
    reporter->setProgressRange(0, std::int64_t(entryMap.size()));
    if (leafScanUsed) {
        if (!entryMap.empty()) linkSearched();
    } else {
        linkStandard();
    }
    stopRequested = false;
}

// Each entry joins the head of its parent's chain, so every entry sits in at
// most one chain and no chain can loop. The result equals following each
// chain to its end before inserting, done in linear time.
void HFSP::linkStandard() {
    const int count = int(entryMap.size());
    int k = 0;
    for (auto& [cnid, e] : entryMap) {
        if (pollStop()) break;
        reporter->setStatus(format16("Maintaining Parent Child for record %d of %d....", k, count));
        reporter->setProgressPosition(++k);
        if (e.parentId == 0 || e.parentId == cnid) continue;
        auto p = entryMap.find(e.parentId);
        if (p == entryMap.end() || p->second.kind != kFolder) continue;
        HfsEntry& parent = p->second;
        if (parent.firstChild == 0) {
            parent.firstChild = cnid;
            continue;
        }
        auto first = entryMap.find(parent.firstChild);
        bool longChain = first != entryMap.end() && first->second.nextSibling != 0;
        // A parent whose own parent is this entry would close a loop.
        if (longChain && parent.parentId == cnid) continue;
        e.nextSibling = parent.firstChild;
        parent.firstChild = cnid;
    }
}

// Leaves found by searching give no trustworthy parents: every folder goes
// under ORPHAN_ENTRY, and every file into the folder with the largest cnid
// below its own.
void HFSP::linkSearched() {
    std::uint32_t largest = entryMap.rbegin()->first;
    orphanKey = largest + 1;
    if (largest == UINT32_MAX) {
        // No key above the largest: take the highest free one below it.
        orphanKey = largest;
        while (orphanKey > 0 && entryMap.count(orphanKey)) --orphanKey;
    }
    HfsEntry* orphan = nullptr;
    if (largest > 1 && orphanKey != 0) {
        HfsEntry o;
        o.kind = kFolder;
        o.parentId = kRootFolderId;
        o.cnid = orphanKey;
        o.name = u"ORPHAN_ENTRY";
        orphan = &entryMap.emplace(orphanKey, std::move(o)).first->second;
    }
    HfsEntry* latest = orphan;
    std::uint32_t previousFolder = 0;
    for (auto& [cnid, e] : entryMap) {
        if (cnid == orphanKey && orphan) continue;
        if (e.kind == kFolder) {
            if (!orphan) continue;
            e.parentId = orphanKey;
            e.nextSibling = previousFolder;
            orphan->firstChild = cnid;
            previousFolder = cnid;
            latest = &e;
        } else if (latest) {
            e.nextSibling = latest->firstChild;
            latest->firstChild = cnid;
        }
    }
}

void HFSP::fillRootEntries() {
    if (!tree) return;
    long long i = 0;
    for (const auto& [cnid, e] : entryMap) {
        if (pollStop()) break;
        if (e.parentId == kRootFolderId) {
            bool folder = e.kind == kFolder;
            TreeItem item = tree->insertItem(e.name, folder ? ItemImage::Folder : ItemImage::File, rootItem);
            tree->setItemData(item, cnid);
            reporter->setStatus(format16(folder ? "found folder at Node %lld" : "found file at Node %lld", i));
        }
        ++i;
    }
    if (rootItem != kNoItem) tree->expand(rootItem);
}

}  // namespace salvage
