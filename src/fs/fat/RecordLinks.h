#pragma once
// What the FAT16/FAT32 and exFAT parsers share: the record table (linking
// each record under its parent, walking a folder's children) and the
// attribute letters of the list.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "browse/BrowseTree.h"
#include "browse/RecordTable.h"
#include "platform/Reporter.h"

namespace salvage::fat {

// The record table of a FAT16/FAT32 or exFAT volume: the entries' fixed
// fields in table order, their names in one arena and their child chains.
// Record 0 is the table's root, its own parent; every other record names
// its parent by index.
template <class Entry>
class RecordTable {
public:
    void clear() {
        rows_.clear();
        names_.clear();
        chains_.clear();
    }
    // Appends a record named name; answers its index.
    std::uint32_t add(Entry e, std::u16string_view name) {
        e.name = names_.add(name);
        rows_.push_back(e);
        return std::uint32_t(rows_.size() - 1);
    }
    void rename(std::size_t i, std::u16string_view name) {
        if (i < rows_.size()) rows_[i].name = names_.add(name);
    }

    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    Entry& operator[](std::size_t i) { return rows_[i]; }
    const Entry& operator[](std::size_t i) const { return rows_[i]; }
    const Entry* find(RecordId id) const {
        return id >= 0 && std::uint64_t(id) < rows_.size() ? &rows_[std::size_t(id)] : nullptr;
    }
    std::u16string_view nameOf(std::size_t i) const { return i < rows_.size() ? names_.view(rows_[i].name) : u""; }
    std::u16string name(RecordId id) const {
        const Entry* e = find(id);
        return e ? names_.text(e->name) : std::u16string();
    }

    // Appends each record after its parent's last child, in table order.
    // Record 0, its own parent, is never linked; parents outside the table
    // leave the record unlinked.
    void link(Reporter& reporter) {
        const std::size_t n = rows_.size();
        chains_.reset(n);
        reporter.setProgressRange(0, std::int64_t(n));
        for (std::size_t i = 0; i < n; ++i) {
            chains_.append(rows_[i].parentIndex, RecordIndex(i));
            if ((i & 0x3FF) == 0) reporter.setProgressPosition(std::int64_t(i));
        }
        chains_.finishLinking();
        reporter.setProgressPosition(std::int64_t(n));
    }
    bool hasChildren(RecordId id) const { return find(id) && chains_.hasChildren(RecordIndex(id)); }
    void forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const {
        if (!find(id)) return;
        chains_.forEachChild(RecordIndex(id), [&](RecordIndex c) { return visit(RecordId(c)); });
    }

private:
    std::vector<Entry> rows_;
    NameArena<char16_t> names_;
    ChildChains chains_;
};

// "RHSVDA" letters of the attribute bits that are set.
std::u16string attributeLetters(std::uint16_t attributes);

// The entry as st_mode bits: FAT keeps no owners, so everyone may read and
// run it, and write it unless the read-only bit is set.
inline std::uint32_t unixMode(std::uint16_t attributes, bool directory) {
    return (directory ? 0040000u : 0100000u) | ((attributes & 0x01) ? 0555u : 0777u);
}

}  // namespace salvage::fat
