#include "platform/OutputNames.h"

#include <cstdio>
#include <cstring>

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

std::string fitHostName(const std::string& s) {
    if (s.size() <= kMaxHostNameBytes) return s;
    constexpr std::size_t kShortBytes = 240;  // leaves room for numbering
    std::uint32_t hash = 2166136261u;  // FNV-1a over the whole name
    for (unsigned char c : s) hash = (hash ^ c) * 16777619u;
    std::string ext;
    const auto dot = s.rfind('.');
    if (dot != std::string::npos && dot > 0 && s.size() - dot <= 16) ext = s.substr(dot);
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08x", hash);
    std::size_t keep = kShortBytes - ext.size() - std::strlen(tag);
    // Never cut inside a UTF-8 sequence.
    while (keep > 0 && (static_cast<unsigned char>(s[keep]) & 0xC0) == 0x80) --keep;
    return s.substr(0, keep) + tag + ext;
}

std::string hostFileName(const std::u16string& name) { return fitHostName(pathFromUtf16(safeOutputName(name)).string()); }

std::u16string streamHostName(const std::u16string& entryName, const std::u16string& stream) {
    if (stream.empty() || entryName.size() <= stream.size() || !entryName.ends_with(stream)) return entryName;
    std::u16string out = entryName;
    char16_t& separator = out[out.size() - stream.size() - 1];
    if (separator == u':') separator = u'_';
    return out;
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
