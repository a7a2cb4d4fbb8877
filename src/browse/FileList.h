#pragma once
// The file list beside the browse tree: one row per file of the folder
// opened last, or one per search result. A row made from the tree carries
// its tree item; a search result carries the parser record instead. The
// list is filled by the user-interface thread or by a search worker while a
// view reads it, so every operation takes the list's lock.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "browse/BrowseTree.h"
#include "browse/VolumeParser.h"

namespace salvage {

// Column titles, in order.
inline constexpr const char16_t* kListColumns[6] = {u"File(s) List", u"Creation Time", u"Access Time",
                                                    u"Modification Time", u"Size", u"Attribute"};

struct ListRow {
    std::u16string name;  // the file's name, or a search result's path
    std::u16string creation, access, modification, size, attribute;
    // The values behind the texts, for sorting and filtering.
    std::uint64_t bytes = 0;
    RecordTimes times;
    bool deleted = false;
    std::u16string stream;             // a file's named data stream: its name
    TreeItem item = kNoItem;           // rows made from the tree
    std::optional<RecordId> record;    // search results
    bool checked = false;
    // The file touches damage (markDamage), and the causes as the save
    // report names them.
    bool damaged = false;
    std::string damage;
};

// Told about changes, on the thread that makes them.
class FileListListener {
public:
    virtual ~FileListListener() = default;
    virtual void rowsCleared() = 0;
    virtual void rowInserted(std::size_t row) = 0;
    virtual void rowChanged(std::size_t row) = 0;
};

class FileList {
public:
    void clear();
    // Inserts at index (clamped to the end); answers the row's index.
    std::size_t insertRow(std::size_t index, ListRow row);
    std::size_t size() const;
    std::optional<ListRow> row(std::size_t index) const;
    std::vector<ListRow> rows() const;

    bool showsSearchResults() const;
    void setShowsSearchResults(bool on);

    // The five columns after the name, from the parser's texts, and the
    // values behind them.
    static void fillColumns(ListRow& row, const VolumeParser& parser, RecordId id);

    // Rows of the folder's files, in tree order. byImage: a file is an item
    // whose image is not the folder's (double click); otherwise a file is an
    // item whose record is not a directory (label click). Ends the
    // search-result mode. Nothing changes when the folder has no children.
    void fillFromFolder(const BrowseTree& tree, const VolumeParser& parser, TreeItem folder, bool byImage);

    // Marks the rows whose files touch damage, by the map check
    // (DamageDepth::Map: the files' layout against the damage the image
    // reader knows; no file data is read), and clears the marks of the
    // others. Rows are copied out first, so the lock is not held while the
    // parser works; a row changed meanwhile keeps its mark. Answers how many
    // rows are marked.
    std::size_t markDamage(const BrowseTree& tree, VolumeParser& parser);

    // A click on a row's check box: the row's mark flips and its tree item
    // follows. A search result's mark is the list's own; rows with neither
    // an item nor a record change nothing.
    void toggleCheck(std::size_t index, BrowseTree& tree);
    // Sets the marks of the given rows (and their tree items) at once.
    void setChecked(const std::vector<std::size_t>& indices, bool checked, BrowseTree& tree);

    void setListener(FileListListener* l);

private:
    mutable std::mutex mutex_;
    std::vector<ListRow> rows_;
    bool searchResults_ = false;
    FileListListener* listener_ = nullptr;
};

}  // namespace salvage
