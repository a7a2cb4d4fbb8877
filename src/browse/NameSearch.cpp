#include "browse/NameSearch.h"

#include <algorithm>
#include <vector>

#include "browse/FolderOpen.h"
#include "browse/FolderSave.h"
#include "platform/Text.h"

namespace salvage {

namespace {
std::u16string trimmed(const std::u16string& s) {
    const auto b = s.find_first_not_of(u" \t\r\n");
    if (b == std::u16string::npos) return {};
    return s.substr(b, s.find_last_not_of(u" \t\r\n") - b + 1);
}
// The pattern as a regular expression. A typed pattern must not be able to
// hang the search: a backtracking matcher takes time exponential in the
// name's length on patterns such as "(a+)+b", and one match cannot be
// stopped. libstdc++'s polynomial mode matches in time linear in the name
// (times the pattern's size). It cannot match back-references ("\1"), and
// those need the backtracking matcher, where "(a+)+\1b" over a long name
// never ends; a pattern with a back-reference is therefore refused like any
// other pattern that does not compile. Finding names by a repeated part of
// themselves is not worth a search that a Stop cannot end.
// A rough size of the automaton the library builds for a pattern: an atom
// counts 1, a group the sum of its parts, a repeat {m,n} multiplies what it
// repeats by max(m, n) + 1 (the library makes that many copies of it), and
// *, + and ? by 2. Nested repeats such as "(a{99}){99}" multiply, and the
// library's compiler takes seconds over what they make, before any name is
// searched; a name is at most a few hundred bytes, so no sensible pattern
// comes near the bound.
constexpr std::uint64_t kMaxPatternCost = 1000;

std::uint64_t patternCost(const std::string& p) {
    constexpr std::uint64_t kSaturated = std::uint64_t(1) << 40;
    auto add = [&](std::uint64_t a, std::uint64_t b) { return std::min(kSaturated, a + b); };
    auto mul = [&](std::uint64_t a, std::uint64_t b) { return b && a > kSaturated / b ? kSaturated : a * b; };
    struct Frame {
        std::uint64_t total = 0;
        std::uint64_t last = 0;  // the cost of the atom a quantifier would repeat
    };
    std::vector<Frame> frames(1);
    auto atom = [&](std::uint64_t cost) {
        frames.back().total = add(frames.back().total, cost);
        frames.back().last = cost;
    };
    auto repeat = [&](std::uint64_t factor) {
        Frame& f = frames.back();
        const std::uint64_t grown = mul(f.last, factor);
        f.total = add(f.total - f.last, grown);
        f.last = grown;
    };
    auto number = [&](std::size_t& i) {
        std::uint64_t n = 0;
        while (i < p.size() && p[i] >= '0' && p[i] <= '9') n = std::min(kSaturated, n * 10 + std::uint64_t(p[i++] - '0'));
        return n;
    };
    bool quantified = false;  // the previous token was a quantifier (a following '?' makes it lazy)
    for (std::size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        const bool lazyMark = quantified && c == '?';
        quantified = false;
        if (lazyMark) continue;
        switch (c) {
            case '\\':
                ++i;
                atom(1);
                break;
            case '[':
                for (++i; i < p.size() && p[i] != ']'; ++i)
                    if (p[i] == '\\') ++i;
                atom(1);
                break;
            case '(':
                frames.emplace_back();
                if (i + 2 < p.size() && p[i + 1] == '?') i += 2;  // (?: (?= (?!
                break;
            case ')':
                if (frames.size() > 1) {
                    const std::uint64_t group = add(frames.back().total, 1);
                    frames.pop_back();
                    atom(group);
                }
                break;
            case '|':
                atom(1);
                frames.back().last = 0;
                break;
            case '*':
            case '+':
            case '?':
                repeat(2);
                quantified = true;
                break;
            case '{': {
                std::size_t j = i + 1;
                const std::uint64_t low = number(j);
                std::uint64_t high = low;
                if (j < p.size() && p[j] == ',') {
                    ++j;
                    high = number(j);
                }
                if (j < p.size() && p[j] == '}' && j > i + 1) {
                    repeat(add(std::max(low, high), 1));
                    quantified = true;
                    i = j;
                } else {
                    atom(1);
                }
                break;
            }
            default:
                atom(1);
        }
    }
    std::uint64_t total = 0;
    for (const Frame& f : frames) total = add(total, f.total);
    return total;
}

std::regex compilePattern(const std::string& pattern) {
    // The library reads a repeat count or a back-reference number into a
    // long without an overflow check; such a number of more than nine
    // digits is refused here instead.
    constexpr std::size_t kMaxNumberDigits = 9;
    bool inBraces = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '{') inBraces = true;
        if (c == '}') inBraces = false;
        if (c != '\\' && c != '{' && !(c == ',' && inBraces)) continue;
        std::size_t digits = 0;
        while (i + 1 + digits < pattern.size() && pattern[i + 1 + digits] >= '0' && pattern[i + 1 + digits] <= '9')
            ++digits;
        if (digits > kMaxNumberDigits) throw std::regex_error(std::regex_constants::error_brace);
        if (c == '\\') ++i;  // the escaped character is not a separator of its own
    }
    if (patternCost(pattern) > kMaxPatternCost) throw std::regex_error(std::regex_constants::error_complexity);
    constexpr auto kFlags = std::regex::ECMAScript | std::regex::icase;
#if defined(__GLIBCXX__)
    // Throws error_complexity for a back-reference.
    return std::regex(pattern, kFlags | std::regex_constants::__polynomial);
#else
#error "name search needs a regular-expression library that matches in polynomial time"
#endif
}
}  // namespace

SearchTopLevel SearchTopLevel::of(const BrowseTree& tree, const VolumeParser& parser) {
    SearchTopLevel t;
    const TreeItem root = tree.root();
    t.rootText = tree.text(root);
    for (TreeItem child : tree.children(root))
        t.items.push_back({tree.text(child), validRecord(tree, parser, child), tree.hasChildren(child)});
    return t;
}

bool NameSearch::matches(const std::u16string& name) const {
    const std::string text = utf16ToAnsi(name);
    try {
        return std::regex_search(text, regex_);
    } catch (const std::regex_error&) {
        // Too complex for this name (backtracking limits): no match.
        return false;
    }
}

void NameSearch::addRow(const std::u16string& path, RecordId id) {
    ListRow row;
    row.name = path;
    FileList::fillColumns(row, parser_, id);
    row.record = id;
    list_.insertRow(std::size_t(results_), std::move(row));
    ++results_;
    reporter_.setStatus(format16("searched file %lld", (long long)results_));
}

bool NameSearch::stopped() {
    const bool stop = parser_.pollStop();
    return stop || (abortAll && abortAll->load());
}

void NameSearch::walk(RecordId folder, const std::u16string& path, int depth) {
    if (depth >= kMaxFolderDepth || !visited_.insert(folder).second) return;
    parser_.forEachChild(folder, [&](RecordId c) {
        if (stopped()) return false;
        reporter_.setProgressPosition(0);
        const std::u16string name = parser_.name(c);
        if (parser_.isDirectory(c)) {
            // "." is the folder itself, ".." its parent: walking them repeats or climbs.
            if (name != u"." && name != u"..") {
                const std::u16string clean = trimmed(name);
                walk(c, clean.empty() ? path : path + u"\\" + clean, depth + 1);
            }
            if (parser_.searchMatchesFolders() && matches(name)) addRow(path + u"\\" + name, c);
        } else if (matches(name)) {
            addRow(path + u"\\" + name, c);
        }
        return true;
    });
}

NameSearch::Outcome NameSearch::run(const std::u16string& pattern) {
    // A Stop pressed during an earlier job is not meant for this search.
    parser_.stopRequested = false;
    results_ = 0;
    visited_.clear();
    list_.clear();
    list_.setShowsSearchResults(true);
    if (!pattern.empty()) {
        try {
            regex_ = compilePattern(utf16ToAnsi(pattern));
        } catch (const std::regex_error&) {
            reporter_.message(u"such characters are not allowed for search.Try again with different pattern.", u"",
                              MessageIcon::Information);
            return Outcome::BadPattern;
        }
        const std::u16string prefix = top_.rootText + u"\\";
        for (const auto& child : top_.items) {
            if (abortAll && abortAll->load()) break;
            if (!child.record) continue;
            const RecordId id = *child.record;
            if (child.hasChildren) {
                if (!parser_.isDirectory(id)) continue;
                if (onFolderWalk) onFolderWalk(true);
                const std::int64_t count = countFilesUnder(parser_, id);
                reporter_.setProgressRange(0, count);
                walk(id, trimmed(prefix + trimmed(child.text)), 0);
                reporter_.setProgressPosition(count);
                // Stop ends this folder's walk only.
                parser_.stopRequested = false;
                if (onFolderWalk) onFolderWalk(false);
            } else if (matches(parser_.name(id))) {
                addRow(prefix + parser_.name(id), id);
            }
        }
    }
    reporter_.message(u"Searching Finished", u"", MessageIcon::Information);
    reporter_.setStatus(u"Searching Finished");
    return Outcome::Finished;
}

}  // namespace salvage
