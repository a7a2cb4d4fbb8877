#pragma once
// An in-memory parser for the browse layer's tests: records with names,
// folders, deleted marks, contents and child chains, for the corners real
// tools cannot make (loops, hostile names, duplicates, "$BadClus").
#include <fstream>
#include <functional>
#include <map>

#include "browse/VolumeParser.h"
#include "browse/DisplayFormats.h"
#include "platform/OutputNames.h"
#include "platform/Text.h"

namespace salvage::test {

class FakeParser : public VolumeParser {
public:
    struct Rec {
        std::u16string name;
        bool dir = false;
        bool deleted = false;
        std::string content;
        std::vector<RecordId> children;
        // A stretch whose read fails: delivered as zeros, marked failed.
        std::uint64_t badOffset = 0, badLength = 0;
    };
    std::map<RecordId, Rec> recs;
    std::vector<RecordId> topLevel;
    bool foldersMatch = false;
    // Called at each poll of parse(), with the step number.
    std::function<void(int)> onParseStep;
    int parseSteps = 5;
    ParseResult parseResult = ParseResult::Done;
    std::atomic<int> stepsDone{0};
    // Called whenever a record's name is read (lets a test press Stop mid-walk).
    std::function<void(RecordId)> onName;

    RecordId add(RecordId parent, std::u16string name, bool dir, std::string content = {}, bool deleted = false) {
        RecordId id = RecordId(recs.size()) + 1;
        recs[id] = Rec{std::move(name), dir, deleted, std::move(content), {}};
        if (parent == 0) topLevel.push_back(id);
        else recs[parent].children.push_back(id);
        return id;
    }

    std::u16string parserName() const override { return u"FakeParser"; }
    ParseResult parse(RecoveryMode) override {
        if (tree) rootItem = tree->insertItem(kRootText, ItemImage::Folder);
        for (int i = 0; i < parseSteps; ++i) {
            if (onParseStep) onParseStep(i);
            if (pollStop()) break;
            ++stepsDone;
        }
        if (parseResult != ParseResult::Done) return parseResult;
        if (tree)
            for (RecordId id : topLevel) {
                TreeItem it = tree->insertItem(recs[id].name, recs[id].dir ? ItemImage::Folder : ItemImage::File, rootItem);
                tree->setItemData(it, id);
                if (recs[id].deleted) tree->setRed(it);
            }
        return ParseResult::Done;
    }
    const Rec* rec(RecordId id) const {
        auto it = recs.find(id);
        return it == recs.end() ? nullptr : &it->second;
    }
    bool isValidRecord(RecordId id) const override { return rec(id) != nullptr; }
    bool isDirectory(RecordId id) const override { return rec(id) && rec(id)->dir; }
    bool isDeleted(RecordId id) const override { return rec(id) && rec(id)->deleted; }
    std::u16string name(RecordId id) const override {
        if (onName) onName(id);
        return rec(id) ? rec(id)->name : std::u16string();
    }
    bool hasChildren(RecordId id) const override { return rec(id) && !rec(id)->children.empty(); }
    void forEachChild(RecordId id, const std::function<bool(RecordId)>& visit) const override {
        if (const Rec* r = rec(id))
            for (RecordId c : r->children)
                if (!visit(c)) return;
    }
    std::u16string creationTimeText(RecordId) const override { return formatListTime(UnixNanos(0)); }
    std::u16string accessTimeText(RecordId) const override { return formatListTime(UnixNanos(0)); }
    std::u16string modificationTimeText(RecordId) const override { return formatListTime(UnixNanos(0)); }
    std::u16string sizeText(RecordId id) const override { return formatListSize(sizeBytes(id)); }
    std::u16string attributeText(RecordId id) const override { return isDirectory(id) ? u"D" : u"A"; }
    std::uint64_t sizeBytes(RecordId id) const override { return rec(id) ? rec(id)->content.size() : 0; }
    RecordTimes times(RecordId) const override { return {UnixNanos(1'000'000'000), std::nullopt, UnixNanos(2'000'000'000)}; }
    ContentResult readContent(RecordId id, ContentSink& sink) override {
        ContentResult res;
        const Rec* r = rec(id);
        if (!r) return res;
        res.readable = true;
        res.expectedSize = r->content.size();
        ContentStream out(sink, nullptr, r->content.size());
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(r->content.data());
        const std::string zeros(r->badLength, '\0');
        const std::uint64_t goodEnd = r->badLength ? r->badOffset : r->content.size();
        out.bytes(bytes, goodEnd, true, 0, ByteRun::Kind::Data);
        if (r->badLength) {
            out.bytes(reinterpret_cast<const std::uint8_t*>(zeros.data()), r->badLength, false,
                      std::int64_t(r->badOffset), ByteRun::Kind::Data);
            out.bytes(bytes + r->badOffset + r->badLength, r->content.size() - r->badOffset - r->badLength, true,
                      std::int64_t(r->badOffset + r->badLength), ByteRun::Kind::Data);
        }
        return res;
    }
    bool searchMatchesFolders() const override { return foldersMatch; }
};

}  // namespace salvage::test
