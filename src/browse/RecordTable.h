#pragma once
// What every parser's record table is made of besides its own fixed fields:
// the folder tree's child chains as 32-bit indices with one "no link" value,
// and the names of all records in one arena. A parser keeps its records in a
// vector of small structs, one ChildChains and one NameArena beside them;
// the per-record links and names cost 8 bytes each plus the name's units,
// with no allocation per record.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace salvage {

// A record's index in its parser's table.
using RecordIndex = std::uint32_t;
inline constexpr RecordIndex kNoLink = 0xFFFFFFFFu;

// The children of every record, as chains: first child and next sibling per
// record. Both ways of linking the file systems need: appending (children in
// the order they are linked; a last-child column is kept while linking and
// freed by finishLinking) and prepending (the last linked first).
class ChildChains {
public:
    // n unlinked records.
    void reset(std::size_t n);
    void clear() { reset(0); }
    std::size_t size() const { return first_.size(); }

    void append(RecordIndex parent, RecordIndex child);
    void prepend(RecordIndex parent, RecordIndex child);
    // Puts child right after previous in previous's chain.
    void insertAfter(RecordIndex previous, RecordIndex child);
    // Forgets the record's own children and its place in a chain (links
    // that point to it from elsewhere stay: call it before relinking all).
    void unlink(RecordIndex r);
    // Frees the last-child column that appending keeps.
    void finishLinking();

    RecordIndex firstChild(RecordIndex r) const { return r < first_.size() ? first_[r] : kNoLink; }
    RecordIndex nextSibling(RecordIndex r) const { return r < next_.size() ? next_[r] : kNoLink; }
    bool hasChildren(RecordIndex r) const { return firstChild(r) != kNoLink; }

    // Children in chain order; the visitor returns false to stop. A chain
    // visits at most size() records, so a chain that loops ends.
    template <class Visit>
    void forEachChild(RecordIndex parent, Visit&& visit) const {
        std::size_t steps = 0;
        for (RecordIndex c = firstChild(parent); c != kNoLink && c < next_.size() && steps < next_.size(); ++steps) {
            if (!visit(c)) return;
            c = next_[c];
        }
    }

    std::size_t bytes() const {
        return (first_.capacity() + next_.capacity() + last_.capacity()) * sizeof(RecordIndex);
    }

private:
    bool valid(RecordIndex r) const { return r < first_.size(); }
    std::vector<RecordIndex> first_, next_, last_;
};

// Where a name lies in its arena. The empty reference is the empty name.
struct NameRef {
    std::uint32_t block = 0;
    std::uint16_t offset = 0;
    std::uint16_t length = 0;
};

// Names stored once, back to back, in blocks of 64 Ki units that never
// move, so a view stays valid while names are added. A name longer than a
// block is kept up to the block's size (the file systems here allow at most
// 255 units).
template <class Char>
class NameArena {
public:
    static constexpr std::size_t kBlockUnits = 0xFFFF;

    NameRef add(std::basic_string_view<Char> name) {
        if (name.empty()) return {};
        if (name.size() > kBlockUnits) name = name.substr(0, kBlockUnits);
        if (blocks_.empty() || used_ + name.size() > kBlockUnits) {
            // Left uninitialised: only the units written are ever read.
            blocks_.push_back(std::unique_ptr<Char[]>(new Char[kBlockUnits]));
            used_ = 0;
        }
        Char* at = blocks_.back().get() + used_;
        std::char_traits<Char>::copy(at, name.data(), name.size());
        NameRef ref{std::uint32_t(blocks_.size() - 1), std::uint16_t(used_), std::uint16_t(name.size())};
        used_ += name.size();
        return ref;
    }
    std::basic_string_view<Char> view(NameRef ref) const {
        if (ref.length == 0 || ref.block >= blocks_.size() || std::size_t(ref.offset) + ref.length > kBlockUnits)
            return {};
        return {blocks_[ref.block].get() + ref.offset, ref.length};
    }
    std::basic_string<Char> text(NameRef ref) const { return std::basic_string<Char>(view(ref)); }
    void clear() {
        blocks_.clear();
        used_ = 0;
    }
    std::size_t bytes() const { return blocks_.size() * kBlockUnits * sizeof(Char); }

private:
    std::vector<std::unique_ptr<Char[]>> blocks_;
    std::size_t used_ = 0;
};

}  // namespace salvage
