#pragma once
// Opening folders of the browse tree on demand. A folder whose children have
// not been inserted yet carries one "..DUMY.." placeholder child, so that it
// shows an expand button; opening it replaces the placeholder by the
// records of the parser's child chain, once.
#include "browse/BrowseTree.h"
#include "browse/VolumeParser.h"

namespace salvage {

// The record behind an item, when the parser takes it as valid.
std::optional<RecordId> validRecord(const BrowseTree& tree, const VolumeParser& parser, TreeItem item);

// End of a parse: a placeholder under every first-level item that has an
// image and whose record has children.
void addFirstLevelPlaceholders(BrowseTree& tree, const VolumeParser& parser);

// Inserts the children of a folder item from its record (when not done
// before). New items take the folder's check state; with colourDeleted a
// deleted record's item is drawn red. Every child of the chain is inserted,
// whatever its name. Returns false when the item is not a valid directory.
bool openFolder(BrowseTree& tree, const VolumeParser& parser, TreeItem folder, bool colourDeleted);

// The item named by the path (names below ROOT), opening folders on the
// way (deleted entries drawn red); kNoItem when a name is not found.
TreeItem resolvePath(BrowseTree& tree, const VolumeParser& parser, const std::vector<std::u16string>& names);

// The item's path from ROOT, its names joined by backslashes.
std::u16string itemPath(const BrowseTree& tree, TreeItem item);

// The entries whose boxes are checked, grouped by the folder item they lie
// in, in tree order. A checked folder stands for its whole subtree (opened
// or not) and its children are not listed again; a checked ROOT gives the
// first level. Items without a valid record are left out.
struct CheckedGroup {
    TreeItem folder = kNoItem;
    std::vector<RecordId> records;
};
std::vector<CheckedGroup> checkedEntries(const BrowseTree& tree, const VolumeParser& parser);

}  // namespace salvage
