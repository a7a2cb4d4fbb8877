// The record table's child chains and name arena: the linking orders the
// parsers rely on, and walks that end on hostile links.
#include <gtest/gtest.h>

#include "browse/RecordTable.h"

using namespace salvage;

namespace {
std::vector<RecordIndex> children(const ChildChains& c, RecordIndex parent) {
    std::vector<RecordIndex> out;
    c.forEachChild(parent, [&](RecordIndex r) {
        out.push_back(r);
        return true;
    });
    return out;
}
}  // namespace

TEST(ChildChains, LinkingOrders) {
    struct Step {
        char op;  // 'a' append, 'p' prepend, 'i' insert after, 'u' unlink
        RecordIndex x, y;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        RecordIndex parent;
        std::vector<RecordIndex> want;
    } cases[] = {
        {"append keeps link order", {{'a', 0, 3}, {'a', 0, 1}, {'a', 0, 2}}, 0, {3, 1, 2}},
        {"prepend puts the last first", {{'p', 0, 1}, {'p', 0, 2}, {'p', 0, 3}}, 0, {3, 2, 1}},
        {"append after prepend goes to the tail", {{'p', 0, 1}, {'p', 0, 2}, {'a', 0, 3}}, 0, {2, 1, 3}},
        {"insert after a middle child", {{'a', 0, 1}, {'a', 0, 2}, {'i', 1, 4}}, 0, {1, 4, 2}},
        {"append after inserting past the tail", {{'a', 0, 1}, {'i', 1, 2}, {'a', 0, 3}}, 0, {1, 2, 3}},
        {"self and out-of-table links are refused", {{'a', 0, 0}, {'a', 0, 9}, {'a', 9, 1}, {'a', 0, 1}}, 0, {1}},
        {"unlink forgets the children", {{'a', 1, 2}, {'u', 1, 0}}, 1, {}},
    };
    for (const Case& c : cases) {
        ChildChains chains;
        chains.reset(5);
        for (const Step& s : c.steps) {
            if (s.op == 'a') chains.append(s.x, s.y);
            if (s.op == 'p') chains.prepend(s.x, s.y);
            if (s.op == 'i') chains.insertAfter(s.x, s.y);
            if (s.op == 'u') chains.unlink(s.x);
        }
        chains.finishLinking();
        EXPECT_EQ(children(chains, c.parent), c.want) << c.what;
    }
}

TEST(ChildChains, LoopingChainEnds) {
    ChildChains chains;
    chains.reset(3);
    chains.append(0, 1);
    chains.append(0, 2);
    chains.insertAfter(2, 1);  // 1 -> 2 -> 1 -> ...
    EXPECT_LE(children(chains, 0).size(), 3u);
}

TEST(NameArena, NamesStayWhereTheyWereWhileTheArenaGrows) {
    NameArena<char16_t> arena;
    const std::u16string first = u"first name";
    const NameRef a = arena.add(first);
    const std::u16string_view v = arena.view(a);
    std::vector<NameRef> refs;
    for (int i = 0; i < 20000; ++i) refs.push_back(arena.add(u"name-" + std::u16string(1, char16_t(u'a' + i % 26))));
    EXPECT_EQ(v, first);  // still valid: blocks never move
    EXPECT_EQ(arena.text(refs[20000 - 1]), u"name-" + std::u16string(1, char16_t(u'a' + 19999 % 26)));
    EXPECT_EQ(arena.text(NameRef{}), u"");
    EXPECT_EQ(arena.text(NameRef{99, 0, 4}), u"");  // a reference from elsewhere reads nothing
    const std::u16string huge(70000, u'x');
    EXPECT_EQ(arena.view(arena.add(huge)).size(), NameArena<char16_t>::kBlockUnits);
}
