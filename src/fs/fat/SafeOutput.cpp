#include "fs/fat/SafeOutput.h"

#include "platform/Text.h"

namespace salvage::fat {

std::filesystem::path safeOutputPath(const std::filesystem::path& folder, const std::u16string& name) {
    std::u16string s = name;
    const auto b = s.find_first_not_of(u' ');
    const auto e = s.find_last_not_of(u' ');
    s = b == std::u16string::npos ? std::u16string() : s.substr(b, e - b + 1);
    for (char16_t& ch : s)
        if (ch == u'/' || ch == u'\\' || ch == 0) ch = u'_';
    if (s.empty() || s == u"." || s == u"..") s = u"_";
    return folder / pathFromUtf16(s);
}

}  // namespace salvage::fat
