#pragma once
// What the FAT16/FAT32 and exFAT record tables share: linking each record
// under its parent (parentIndex, firstChild, nextSibling), walking a
// folder's children, and the attribute letters of the list.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "browse/BrowseTree.h"
#include "platform/Reporter.h"

namespace salvage::fat {

inline constexpr std::int32_t kNoRecord = -1;

// Appends each record after its parent's last child, remembered per parent,
// so linking stays linear in the table size. Record 0, its own parent, is
// never linked; parents outside the table leave the record unlinked.
template <class Record>
void linkChildren(std::vector<Record>& table, Reporter& reporter) {
    const std::size_t n = table.size();
    std::vector<std::int32_t> lastChild(n, kNoRecord);
    reporter.setProgressRange(0, std::int64_t(n));
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t p = table[i].parentIndex;
        if (p >= n || p == i) continue;
        if (lastChild[p] == kNoRecord) table[p].firstChild = std::int32_t(i);
        else table[std::size_t(lastChild[p])].nextSibling = std::int32_t(i);
        lastChild[p] = std::int32_t(i);
        if ((i & 0x3FF) == 0) reporter.setProgressPosition(std::int64_t(i));
    }
    reporter.setProgressPosition(std::int64_t(n));
}

// Children in chain order. Links only point forward in the table, so a chain
// cannot loop; the count bound is a second guard.
template <class Record>
void forEachChildOf(const std::vector<Record>& table, RecordId id, const std::function<bool(RecordId)>& visit) {
    if (id < 0 || std::uint64_t(id) >= table.size()) return;
    std::size_t steps = 0;
    for (std::int32_t c = table[std::size_t(id)].firstChild; c != kNoRecord && steps < table.size(); ++steps) {
        if (!visit(c)) return;
        c = table[std::size_t(c)].nextSibling;
    }
}

// "RHSVDA" letters of the attribute bits that are set.
std::u16string attributeLetters(std::uint16_t attributes);

// The entry as st_mode bits: FAT keeps no owners, so everyone may read and
// run it, and write it unless the read-only bit is set.
inline std::uint32_t unixMode(std::uint16_t attributes, bool directory) {
    return (directory ? 0040000u : 0100000u) | ((attributes & 0x01) ? 0555u : 0777u);
}

}  // namespace salvage::fat
