#include "browse/FileList.h"

#include "browse/FileDamage.h"
#include "browse/FolderOpen.h"

namespace salvage {

void FileList::clear() {
    std::lock_guard l(mutex_);
    rows_.clear();
    if (listener_) listener_->rowsCleared();
}

std::size_t FileList::insertRow(std::size_t index, ListRow row) {
    std::lock_guard l(mutex_);
    if (index > rows_.size()) index = rows_.size();
    rows_.insert(rows_.begin() + std::ptrdiff_t(index), std::move(row));
    if (listener_) listener_->rowInserted(index);
    return index;
}

std::size_t FileList::size() const {
    std::lock_guard l(mutex_);
    return rows_.size();
}

std::optional<ListRow> FileList::row(std::size_t index) const {
    std::lock_guard l(mutex_);
    if (index >= rows_.size()) return std::nullopt;
    return rows_[index];
}

std::vector<ListRow> FileList::rows() const {
    std::lock_guard l(mutex_);
    return rows_;
}

bool FileList::showsSearchResults() const {
    std::lock_guard l(mutex_);
    return searchResults_;
}

void FileList::setShowsSearchResults(bool on) {
    std::lock_guard l(mutex_);
    searchResults_ = on;
}

void FileList::setListener(FileListListener* l) {
    std::lock_guard g(mutex_);
    listener_ = l;
}

void FileList::fillColumns(ListRow& row, const VolumeParser& parser, RecordId id) {
    row.creation = parser.creationTimeText(id);
    row.access = parser.accessTimeText(id);
    row.modification = parser.modificationTimeText(id);
    row.size = parser.sizeText(id);
    row.attribute = parser.attributeText(id);
    row.bytes = parser.sizeBytes(id);
    row.times = parser.times(id);
    row.deleted = parser.isDeleted(id);
    row.stream = parser.streamName(id);
}

void FileList::fillFromFolder(const BrowseTree& tree, const VolumeParser& parser, TreeItem folder, bool byImage) {
    const auto items = tree.children(folder);
    if (items.empty()) return;
    std::vector<ListRow> made;
    for (TreeItem item : items) {
        auto id = validRecord(tree, parser, item);
        if (!id) continue;
        const bool file = byImage ? tree.image(item) != ItemImage::Folder : !parser.isDirectory(*id);
        if (!file) continue;
        ListRow r;
        r.name = tree.text(item);
        fillColumns(r, parser, *id);
        r.item = item;
        r.checked = tree.checkState(item) == CheckState::Checked;
        made.push_back(std::move(r));
    }
    std::lock_guard l(mutex_);
    searchResults_ = false;
    rows_ = std::move(made);
    if (listener_) {
        listener_->rowsCleared();
        for (std::size_t i = 0; i < rows_.size(); ++i) listener_->rowInserted(i);
    }
}

std::size_t FileList::markDamage(const BrowseTree& tree, VolumeParser& parser) {
    struct Mark {
        TreeItem item;
        std::optional<RecordId> record;
        bool damaged = false;
        std::string damage;
    };
    std::vector<Mark> marks;
    {
        std::lock_guard l(mutex_);
        marks.reserve(rows_.size());
        for (const ListRow& r : rows_) marks.push_back({r.item, r.record, false, {}});
    }
    std::size_t n = 0;
    for (Mark& m : marks) {
        const auto id = m.record ? m.record : m.item != kNoItem ? validRecord(tree, parser, m.item) : std::nullopt;
        if (!id) continue;
        const FileDamage d = damageOf(parser, *id, DamageDepth::Map);
        m.damaged = d.damaged();
        if (m.damaged) m.damage = d.reason;
        n += m.damaged;
    }
    std::lock_guard l(mutex_);
    for (std::size_t i = 0; i < rows_.size() && i < marks.size(); ++i) {
        ListRow& r = rows_[i];
        const Mark& m = marks[i];
        if (r.item != m.item || r.record != m.record || (r.damaged == m.damaged && r.damage == m.damage)) continue;
        r.damaged = m.damaged;
        r.damage = m.damage;
        if (listener_) listener_->rowChanged(i);
    }
    return n;
}

void FileList::setChecked(const std::vector<std::size_t>& indices, bool checked, BrowseTree& tree) {
    std::vector<TreeItem> items;
    {
        std::lock_guard l(mutex_);
        for (std::size_t i : indices) {
            if (i >= rows_.size()) continue;
            ListRow& r = rows_[i];
            if (r.checked == checked || (r.item == kNoItem && !r.record)) continue;
            r.checked = checked;
            if (r.item != kNoItem) items.push_back(r.item);
            if (listener_) listener_->rowChanged(i);
        }
    }
    tree.setChecks(items, checked);
}

void FileList::toggleCheck(std::size_t index, BrowseTree& tree) {
    TreeItem item;
    bool nowChecked;
    {
        std::lock_guard l(mutex_);
        if (index >= rows_.size()) return;
        ListRow& r = rows_[index];
        // A search result has no tree item: its mark lives in the list.
        if (r.item == kNoItem && !r.record) return;
        r.checked = !r.checked;
        item = r.item;
        nowChecked = r.checked;
        if (listener_) listener_->rowChanged(index);
    }
    if (item != kNoItem) tree.setCheck(item, nowChecked);
}

}  // namespace salvage
