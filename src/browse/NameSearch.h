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

class NameSearch {
public:
    NameSearch(VolumeParser& parser, const BrowseTree& tree, FileList& list, Reporter& reporter)
        : parser_(parser), tree_(tree), list_(list), reporter_(reporter) {}

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
    const BrowseTree& tree_;
    FileList& list_;
    Reporter& reporter_;
    std::regex regex_;
    std::set<RecordId> visited_;
    std::int64_t results_ = 0;
};

}  // namespace salvage
