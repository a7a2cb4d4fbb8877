#include "platform/OutputNames.h"

#include "platform/Text.h"

namespace salvage {

std::u16string safeOutputName(const std::u16string& name) {
    const auto b = name.find_first_not_of(u' ');
    const auto e = name.find_last_not_of(u' ');
    std::u16string s = b == std::u16string::npos ? std::u16string() : name.substr(b, e - b + 1);
    for (char16_t& ch : s)
        if (ch == u'/' || ch == u'\\' || ch == 0) ch = u'_';
    if (s.empty() || s == u"." || s == u"..") s.assign(1, u'_');
    return s;
}

std::filesystem::path safeOutputPath(const std::filesystem::path& folder, const std::u16string& name) {
    return folder / pathFromUtf16(safeOutputName(name));
}

std::string numberedName(const std::string& fileName, int n) {
    std::string suffix = " (";
    suffix += std::to_string(n);
    suffix += ')';
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0) return fileName + suffix;
    std::string out;
    out.reserve(fileName.size() + suffix.size());
    out.append(fileName, 0, dot);
    out.append(suffix);
    out.append(fileName, dot, std::string::npos);
    return out;
}

}  // namespace salvage
