#pragma once
// Name search over a parsed volume: the pattern is an ECMAScript regular
// expression, case ignored, searched for inside each name. The top level is
// taken from the tree; below each top-level folder the parser's own records
// are walked, so folders need not have been opened. Each match becomes a
// list row with its path "ROOT\dir\name" and the five columns.
#include <atomic>
#include <cstdint>
#include <functional>
#include <regex>
#include <set>
#include <string>

#include "browse/BrowseTree.h"
#include "browse/FileList.h"
#include "browse/VolumeParser.h"

namespace salvage {

// The tree's top level as the search starts: taken on the thread that owns
// the tree, so the worker never reads the tree while the user opens folders.
struct SearchTopLevel {
    struct Item {
        std::u16string text;
        std::optional<RecordId> record;  // valid for the parser, or none
        bool hasChildren = false;         // in the tree (a placeholder counts)
    };
    std::u16string rootText;
    std::vector<Item> items;
    static SearchTopLevel of(const BrowseTree& tree, const VolumeParser& parser);
};

class NameSearch {
public:
    NameSearch(VolumeParser& parser, SearchTopLevel top, FileList& list, Reporter& reporter)
        : parser_(parser), top_(std::move(top)), list_(list), reporter_(reporter) {}
    NameSearch(VolumeParser& parser, const BrowseTree& tree, FileList& list, Reporter& reporter)
        : NameSearch(parser, SearchTopLevel::of(tree, parser), list, reporter) {}

    enum class Outcome { Finished, BadPattern };

    // Ends the whole search at the next poll (a Stop that ends only the
    // current top-level folder is the parser's stopRequested).
    std::atomic<bool>* abortAll = nullptr;
    // Told when a top-level folder's walk starts (true) and ends (false):
    // the front end disables the tree, Search and Save meanwhile.
    std::function<void(bool)> onFolderWalk;

    Outcome run(const std::u16string& pattern);
    std::int64_t results() const { return results_; }

private:
    bool matches(const std::u16string& name) const;
    void addRow(const std::u16string& path, RecordId id);
    void walk(RecordId folder, const std::u16string& path, int depth);
    bool stopped();

    VolumeParser& parser_;
    SearchTopLevel top_;
    FileList& list_;
    Reporter& reporter_;
    std::regex regex_;
    std::set<RecordId> visited_;
    std::int64_t results_ = 0;
};

}  // namespace salvage
