#include "fs/fat/FatNames.h"

#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace salvage::fat {

std::u16string shortNameRaw(ByteView entry) {
    std::u16string name;
    if (!entry.has(0, 11)) return name;
    name.push_back(char16_t(std::int16_t(std::int8_t(entry[0]))));
    std::string rest(reinterpret_cast<const char*>(entry.data() + 1), 10);
    name += ansiToUtf16(rest);
    return name;
}

std::u16string shortNameFile16(ByteView entry) {
    std::u16string s = shortNameRaw(entry);
    if (s.size() > 3) s.insert(s.size() - 3, 1, u'.');
    for (;;) {
        const auto blank = s.rfind(u' ');
        const auto dot = s.rfind(u'.');
        if (blank == std::u16string::npos || blank == 0 || dot == std::u16string::npos || dot != blank + 1) break;
        s.erase(blank, 1);
    }
    return s;
}

std::u16string shortNameFile32(ByteView entry) {
    std::u16string s = shortNameFile16(entry);
    while (!s.empty() && s.back() == u' ') s.pop_back();
    while (!s.empty() && s.back() == u'.') s.pop_back();
    return s;
}

namespace {
// Appends up to units characters; false once the name's NUL is met (the
// 0xFFFF padding behind it belongs to no name).
bool appendPart(std::u16string& out, ByteView e, std::size_t off, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = le16(e, off + 2 * i);
        if (c == 0) return false;
        if (c != 0xFFFF) out.push_back(c);
    }
    return true;
}
}  // namespace

LongName collectLongName(ByteView dir, std::size_t offset) {
    LongName r;
    std::vector<std::u16string> parts;
    std::size_t off = offset;
    while (int(parts.size()) < kMaxLongNameEntries && dir.has(off, kDirEntryBytes) &&
           dir[off + 11] == kLongNameAttr) {
        ByteView e = dir.sub(off, kDirEntryBytes);
        if (parts.empty()) r.deleted = e[0] == kDeletedMark;
        std::u16string part;
        if (appendPart(part, e, 1, 5) && appendPart(part, e, 14, 6)) appendPart(part, e, 28, 2);
        parts.push_back(std::move(part));
        off += kDirEntryBytes;
    }
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) r.text += *it;
    r.consumed = parts.size();
    return r;
}

}  // namespace salvage::fat
