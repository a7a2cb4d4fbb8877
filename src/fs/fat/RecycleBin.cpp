#include "fs/fat/RecycleBin.h"

#include <map>

#include "platform/Text.h"

namespace salvage::fat {

namespace {
constexpr std::size_t kV1NameOffset = 24;
constexpr std::size_t kV1NameUnits = 260;
constexpr std::size_t kV2NameOffset = 28;

std::u16string trimBlanks(const std::u16string& s) {
    const auto b = s.find_first_not_of(u' ');
    if (b == std::u16string::npos) return {};
    return s.substr(b, s.find_last_not_of(u' ') - b + 1);
}

bool isRecycleBinName(const std::u16string& n) { return n == u"$RECYCLE.BIN" || n == u"$RECYCLEBIN"; }
}  // namespace

std::u16string recycledFormerName(ByteView info) {
    const std::uint64_t version = le64(info, 0);
    std::size_t offset = kV1NameOffset, units = kV1NameUnits;
    if (version == 2) {
        offset = kV2NameOffset;
        units = le32(info, 24);
    }
    if (!info.has(offset, 2)) return {};
    units = std::min<std::size_t>(units, (info.size() - offset) / 2);
    const std::u16string path = utf16leToString(info.data() + offset, units, true);
    const auto slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

void renameRecycledFiles(VolumeParser& parser, const RecycleBinAccess& access) {
    std::vector<RecordId> bins;
    if (parser.tree && parser.tree->valid(parser.rootItem)) {
        for (TreeItem it : parser.tree->children(parser.rootItem)) {
            auto data = parser.tree->itemData(it);
            if (data && parser.tree->image(it) == ItemImage::Folder && isRecycleBinName(parser.tree->text(it)))
                bins.push_back(*data);
        }
    } else {
        parser.forEachChild(0, [&](RecordId c) {
            if (parser.isDirectory(c) && isRecycleBinName(parser.name(c))) bins.push_back(c);
            return true;
        });
    }
    for (RecordId bin : bins) {
        std::map<std::u16string, std::u16string> formerNames;  // "$I" name -> former name
        std::vector<RecordId> children;
        parser.forEachChild(bin, [&](RecordId c) {
            children.push_back(c);
            return true;
        });
        for (RecordId c : children) {
            if (parser.pollStop()) return;
            const std::u16string n = parser.name(c);
            if (n.rfind(u"$I", 0) != 0 || parser.isDirectory(c)) continue;
            const std::u16string former = recycledFormerName(ByteView(access.readData(c)));
            if (!former.empty()) formerNames[n] = former;
        }
        for (const auto& [info, former] : formerNames) {
            std::u16string target = trimBlanks(u"$R" + info.substr(2));
            if (target.empty()) continue;
            for (RecordId c : children)
                if (trimBlanks(parser.name(c)) == target) access.rename(c, former);
        }
    }
}

}  // namespace salvage::fat
