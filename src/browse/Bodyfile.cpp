#include "browse/Bodyfile.h"

#include "platform/Text.h"

namespace salvage {

namespace {
// Whole seconds toward minus infinity, so a time just before 1970 is -1.
std::string seconds(const std::optional<UnixNanos>& t) {
    if (!t) return "0";
    std::int64_t s = *t / 1000000000;
    if (*t % 1000000000 < 0) --s;
    return std::to_string(s);
}

char typeLetter(std::uint32_t mode, bool directory) {
    switch (mode & 0170000) {
        case 0100000: return 'r';
        case 0040000: return 'd';
        case 0120000: return 'l';
        case 0020000: return 'c';
        case 0060000: return 'b';
        case 0010000: return 'p';
        case 0140000: return 's';
        default: return directory ? 'd' : 'r';
    }
}
}  // namespace

std::u16string bodyfilePath(std::u16string_view volumePath) {
    constexpr std::u16string_view root = kRootText;
    std::u16string_view rest = volumePath;
    if (rest.starts_with(root)) rest.remove_prefix(root.size());
    std::u16string out;
    for (char16_t c : rest) out += c == u'\\' ? u'/' : c;
    if (out.empty() || out[0] != u'/') out.insert(out.begin(), u'/');
    return out;
}

std::string bodyfileMode(std::optional<std::uint32_t> mode, bool directory) {
    const std::uint32_t m = mode ? *mode : (directory ? 040777u : 0100777u);
    const char t = typeLetter(m, directory);
    std::string s{t, '/', t};
    static constexpr char kLetters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) s += (m & (0400u >> i)) ? kLetters[i] : '-';
    auto mark = [&](std::size_t at, std::uint32_t bit, char set) {
        if (!(m & bit)) return;
        s[at] = s[at] == 'x' ? set : char(set - 'a' + 'A');
    };
    mark(5, 04000, 's');
    mark(8, 02000, 's');
    mark(11, 01000, 't');
    return s;
}

std::string bodyfileLine(const BodyfileEntry& e) {
    std::string name = toUtf8(e.path);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '|') c = '^';
    if (e.deleted) name += " (deleted)";
    std::string line = e.md5.empty() ? "0" : e.md5;
    line += '|' + name + '|' + std::to_string(e.inode) + '|' + bodyfileMode(e.meta.mode, e.directory) + '|' +
            std::to_string(e.meta.uid) + '|' + std::to_string(e.meta.gid) + '|' + std::to_string(e.size) + '|' +
            seconds(e.meta.access) + '|' + seconds(e.meta.modification) + '|' + seconds(e.meta.change) + '|' +
            seconds(e.meta.creation);
    return line;
}

}  // namespace salvage
