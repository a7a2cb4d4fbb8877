#include "browse/RecordTable.h"

namespace salvage {

void ChildChains::reset(std::size_t n) {
    first_.assign(n, kNoLink);
    next_.assign(n, kNoLink);
    last_.clear();
    last_.shrink_to_fit();
}

void ChildChains::append(RecordIndex parent, RecordIndex child) {
    if (!valid(parent) || !valid(child) || parent == child) return;
    if (last_.size() != first_.size()) last_.assign(first_.size(), kNoLink);
    // A parent whose chain was started by prepending or inserting has no
    // last child yet: find it once.
    if (last_[parent] == kNoLink && first_[parent] != kNoLink) {
        RecordIndex tail = first_[parent];
        forEachChild(parent, [&](RecordIndex c) {
            tail = c;
            return true;
        });
        last_[parent] = tail;
    }
    if (last_[parent] == kNoLink) first_[parent] = child;
    else next_[last_[parent]] = child;
    next_[child] = kNoLink;
    last_[parent] = child;
}

void ChildChains::prepend(RecordIndex parent, RecordIndex child) {
    if (!valid(parent) || !valid(child) || parent == child) return;
    next_[child] = first_[parent];
    first_[parent] = child;
    if (!last_.empty() && last_[parent] == kNoLink) last_[parent] = child;
}

void ChildChains::insertAfter(RecordIndex previous, RecordIndex child) {
    if (!valid(previous) || !valid(child) || previous == child) return;
    // The parent of previous is not known here, so neither is whether its
    // last child changes: appending finds the tails again when it needs them.
    finishLinking();
    next_[child] = next_[previous];
    next_[previous] = child;
}

void ChildChains::unlink(RecordIndex r) {
    if (!valid(r)) return;
    first_[r] = next_[r] = kNoLink;
    if (!last_.empty()) last_[r] = kNoLink;
}

void ChildChains::finishLinking() {
    last_.clear();
    last_.shrink_to_fit();
}

}  // namespace salvage
