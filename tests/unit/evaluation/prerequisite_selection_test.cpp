#include <gtest/gtest.h>

#include <stdlib.h>

#include "config/prerequisite.h"
#include "log/log.h"
#ifndef CORVANE_WINDOWS_TESTS
#include "native_platform.h"
#endif

namespace {

struct Item {
    const char16_t* name;
    const char16_t* parent;
    int action;
};

PrerequisiteList MakeList(std::initializer_list<Item> items) {
    PrerequisiteList list;
    for (const Item& item : items) {
        Prerequisite p;
        p.Name = item.name;
        p.ParentPrereq = item.parent;
        p.Action = item.action;
        list.items.Add(p);
    }
    return list;
}

std::string Flags(const PrerequisiteList& list) {
    std::string flags;
    for (int i = 0; i < list.Count(); ++i) flags += list[i].Selected ? '1' : '0';
    return flags;
}

TEST(PrerequisiteSelection, Propagation) {
    struct Case {
        std::initializer_list<Item> items;
        int index;
        bool selected;
        const char* expected;
    };
    const Case cases[] = {
        // A child that needs work follows its parent; a present child does not.
        {{{u"A", u"", 2}, {u"B", u"A", 1}}, 0, true, "11"},
        {{{u"A", u"", 2}, {u"B", u"A", 0}}, 0, true, "10"},
        {{{u"A", u"", 2}, {u"B", u"A", 4}}, 0, true, "10"},
        // The parent follows a child that needs work unless it is present or excluded.
        {{{u"A", u"", 1}, {u"B", u"A", 2}}, 1, true, "11"},
        {{{u"A", u"", 0}, {u"B", u"A", 2}}, 1, true, "01"},
        {{{u"A", u"", 4}, {u"B", u"A", 2}}, 1, true, "01"},
        // Grandchildren and a chain of parents.
        {{{u"A", u"", 1}, {u"B", u"A", 1}, {u"C", u"B", 3}}, 0, true, "111"},
        {{{u"A", u"", 1}, {u"B", u"A", 1}, {u"C", u"B", 3}}, 2, true, "111"},
        // Names are compared case-sensitively and whole.
        {{{u"A", u"", 1}, {u"B", u"a", 1}}, 0, true, "10"},
        {{{u"App", u"", 1}, {u"B", u"Ap", 1}}, 1, true, "01"},
        // Two prerequisites with the parent's name: the first is the parent.
        {{{u"A", u"", 0}, {u"A", u"", 1}, {u"B", u"A", 2}}, 2, true, "001"},
        {{{u"A", u"", 1}, {u"A", u"", 1}, {u"B", u"A", 2}}, 2, true, "101"},
        // A parent that does not exist selects nothing else.
        {{{u"A", u"", 1}, {u"B", u"Missing", 2}}, 1, true, "01"},
        // A prerequisite that names itself as parent.
        {{{u"A", u"A", 1}}, 0, true, "1"},
        // Cycles end, and the requested value wins.
        {{{u"A", u"B", 1}, {u"B", u"A", 2}}, 0, true, "11"},
        {{{u"A", u"B", 1}, {u"B", u"A", 0}}, 0, true, "10"},
        {{{u"A", u"B", 0}, {u"B", u"A", 2}}, 1, true, "01"},
        {{{u"A", u"C", 1}, {u"B", u"A", 1}, {u"C", u"B", 1}}, 1, true, "111"},
    };
    for (const Case& c : cases) {
        PrerequisiteList list = MakeList(c.items);
        list.SetSelected(c.index, c.selected);
        EXPECT_EQ(Flags(list), c.expected) << "case " << (&c - cases);
    }
}

#ifndef CORVANE_WINDOWS_TESTS
TEST(PrerequisiteSelection, LogsEveryChangeOnly) {
    PrerequisiteList list = MakeList({{u"A", u"", 1}, {u"B", u"A", 1}});
    bool saved = LoggingEnabled;
    LoggingEnabled = true;
    CapturedLogLines().Clear();
    list.SetSelected(0, true);
    list.SetSelected(0, true);  // no change: nothing logged
    list.SetSelected(0, false);
    LoggingEnabled = saved;
    const Array<WString>& lines = CapturedLogLines();
    ASSERT_EQ(lines.Size(), 4);
    EXPECT_TRUE(lines[0] == u"Prerequisite selected for install:A");
    EXPECT_TRUE(lines[1] == u"Prerequisite selected for install:B");
    EXPECT_TRUE(lines[2] == u"Prerequisite selected for install:A");
    EXPECT_TRUE(lines[3] == u"Prerequisite selected for install:B");
    CapturedLogLines().Clear();
}
#endif

// A derived action stored as the action makes the pair flip each other for
// ever unless the propagation is bounded.
TEST(PrerequisiteSelection, OscillatingCycleEnds) {
    PrerequisiteList list = MakeList({{u"A", u"B", 2}, {u"B", u"A", 5}});
    list.SetSelected(1, true);
    EXPECT_TRUE(list[1].Selected);
}

// Random parent graphs with cycles: every selection ends, and the flag of
// the prerequisite asked for is what was requested.
TEST(PrerequisiteSelection, RandomGraphsTerminate) {
    const char16_t* names[] = {u"A", u"B", u"C", u"D", u"E", u"F"};
    const int actions[] = {0, 1, 2, 3, 4, 5};
    srand(12345);
    for (int round = 0; round < 3000; ++round) {
        PrerequisiteList list;
        int n = 1 + rand() % 6;
        for (int i = 0; i < n; ++i) {
            Prerequisite p;
            p.Name = names[rand() % n];
            p.ParentPrereq = rand() % 4 == 0 ? WString() : WString(names[rand() % n]);
            p.Action = actions[rand() % 6];
            p.Selected = rand() % 2 == 0;
            list.items.Add(p);
        }
        for (int step = 0; step < 6; ++step) {
            int index = rand() % n;
            bool selected = rand() % 2 == 0;
            list.SetSelected(index, selected);
            ASSERT_EQ(list[index].Selected, selected);
        }
    }
}

}  // namespace
