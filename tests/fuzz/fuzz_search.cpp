// Name search with a typed pattern over a parsed tree. Input: the pattern
// (the first line), then one line per entry: "/name" opens a folder inside
// the current one, "<" closes it, anything else is a file in the current
// folder. Names are in the ANSI code page, as 8-bit names on disk are.
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "browse/FileList.h"
#include "browse/ScanController.h"
#include "image/Globals.h"
#include "platform/Text.h"

using namespace salvage;

namespace {

// A parser whose volume is the list of lines: records numbered from 1,
// linked by first child and next sibling, record 0 the root folder.
class LineParser : public VolumeParser {
public:
    struct Record {
        std::u16string name;
        bool directory = false;
        RecordId firstChild = 0, next = 0, lastChild = 0;
    };
    explicit LineParser(std::string_view lines) {
        records_.push_back({u"ROOT", true});
        std::vector<RecordId> open{0};
        while (!lines.empty()) {
            const auto nl = lines.find('\n');
            const std::string_view line = lines.substr(0, nl);
            lines = nl == std::string_view::npos ? std::string_view{} : lines.substr(nl + 1);
            if (line == "<") {
                if (open.size() > 1) open.pop_back();
                continue;
            }
            const bool dir = !line.empty() && line[0] == '/';
            const RecordId id = RecordId(records_.size());
            records_.push_back({ansiToUtf16(dir ? line.substr(1) : line), dir});
            Record& parent = records_[std::size_t(open.back())];
            if (parent.lastChild)
                records_[std::size_t(parent.lastChild)].next = id;
            else
                parent.firstChild = id;
            records_[std::size_t(open.back())].lastChild = id;
            if (dir) open.push_back(id);
        }
    }
    std::u16string parserName() const override { return u"LineParser"; }
    ParseResult parse(RecoveryMode) override {
        rootItem = tree->insertItem(kRootText, ItemImage::Folder);
        tree->setItemData(rootItem, 0);
        forEachChild(0, [&](RecordId c) {
            TreeItem item = tree->insertItem(name(c), isDirectory(c) ? ItemImage::Folder : ItemImage::File, rootItem);
            tree->setItemData(item, c);
            return true;
        });
        return ParseResult::Done;
    }
    bool isValidRecord(RecordId id) const override { return id >= 0 && std::size_t(id) < records_.size(); }
    bool isDirectory(RecordId id) const override { return rec(id).directory; }
    bool isDeleted(RecordId) const override { return false; }
    std::u16string name(RecordId id) const override { return rec(id).name; }
    bool hasChildren(RecordId id) const override { return rec(id).firstChild != 0; }
    void forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const override {
        for (RecordId c = rec(id).firstChild; c; c = rec(c).next)
            if (!visit(c)) return;
    }
    std::u16string creationTimeText(RecordId) const override { return {}; }
    std::u16string accessTimeText(RecordId) const override { return {}; }
    std::u16string modificationTimeText(RecordId) const override { return {}; }
    std::u16string sizeText(RecordId) const override { return u"0"; }
    std::u16string attributeText(RecordId) const override { return {}; }
    std::uint64_t sizeBytes(RecordId) const override { return 0; }
    RecordTimes times(RecordId) const override { return {}; }
    ContentResult readContent(RecordId, ContentSink&) override { return {}; }
    bool searchMatchesFolders() const override { return true; }

private:
    const Record& rec(RecordId id) const { return records_.at(std::size_t(id)); }
    std::vector<Record> records_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto nl = input.find('\n');
    const std::string_view pattern = input.substr(0, nl);
    const std::string_view lines = nl == std::string_view::npos ? std::string_view{} : input.substr(nl + 1);
    BrowseTree tree;
    FileList list;
    ScanController controller(nullReporter(), tree, list);
    controller.runOnCallerThread = true;
    controller.parserFactory = [&](ParserKind) { return std::make_unique<LineParser>(lines); };
    MemorySource source;
    VolumeRecord volume{u"NTFS", u"1", u"1   MB", 0};
    if (controller.startParse(volume, RecoveryMode::Standard, &source) != StartOutcome::Started) return 0;
    controller.startSearch(ansiToUtf16(pattern));
    for (std::size_t row = 0; row < list.size(); ++row) (void)list.row(row);
    return 0;
}
