#include <gtest/gtest.h>

#include "config/ini_document.h"
#include "config/ini_path.h"

namespace {

WString W(const char16_t* s) { return WString(s); }

TEST(IniDocument, GrammarCases) {
    struct Case {
        const char16_t* text;
        const char16_t* section;
        const char16_t* key;
        const char16_t* expected;  // null: the key is not found
        int sectionLine = 0;       // 0: not compared
        int pairLine = 0;
    };
    const Case cases[] = {
        {u"[GeneralOptions]\r\nOptions = qb \r\n", u"GeneralOptions", u"Options", u"qb"},
        {u" [GeneralOptions]  \r\nOptions=q", u"GeneralOptions", u"Options", u"q"},
        {u"[a]b]\r\nk=v", u"a]b", u"k", u"v"},
        {u"[ General ]\r\nk=v", u" General ", u"k", u"v"},
        {u"[ General ]\r\nk=v", u"General", u"k", nullptr},
        {u"[]\r\nk=v", u"", u"k", u"v"},
        {u"[S]\r\nKey=a=b", u"S", u"Key", u"a=b"},
        {u"[S]\r\n=empty key", u"S", u"", u"empty key"},
        {u"[S]\r\n; a=b", u"S", u"; a", u"b"},
        {u"[S]\r\n\tk\t=\tv\t", u"S", u"k", u"v"},
        {u"[S]\r\nk=v\r\n[S]\r\nk=later", u"S", u"k", u"v"},
        {u"[S]\r\nk=first\r\nk=second", u"S", u"k", u"first"},
        {u"\xFEFF[S]\r\nk=v", u"S", u"k", u"v"},
        {u"[GeneralOptions]\r\nOptions=q", u"generaloptions", u"Options", nullptr},
        {u"[S]\r\nk=v", u"S", u"K", nullptr},
        // Only CR LF separates lines: LF-only text is one line.
        {u"[S]\nk=v", u"S", u"k", nullptr},
        {u"[S]\r\nk=a\rb\r\n", u"S", u"k", u"a\rb"},
        // Header followed by text is no header; before any section it is ignored.
        {u"[S] x\r\nk=v", u"S", u"k", nullptr},
        {u"k=v\r\n[S]\r\nj=w", u"S", u"k", nullptr},
        {u"[S]\r\nk=v\xFEFF", u"S", u"k", u"v\xFEFF"},
        // Lines count from 1; ignored, blank and lone-LF lines count too.
        {u"[S]\r\nk=v", u"S", u"k", u"v", 1, 2},
        {u"\xFEFFjunk\r\n\r\n [S] \r\nno equals\r\nk=v\r\n", u"S", u"k", u"v", 3, 5},
        {u"[S]\r\nk=first\r\n[S]\r\nk=later", u"S", u"k", u"first", 1, 2},
        {u"[S]\r\nx=a\nb\r\n\r\nk=v", u"S", u"k", u"v", 1, 4},
    };
    for (const Case& c : cases) {
        IniDocument doc;
        doc.Parse(W(c.text));
        const WString* value = doc.Lookup(W(c.section), W(c.key));
        if (c.expected) {
            ASSERT_NE(value, nullptr) << "section/key not found";
            EXPECT_TRUE(*value == c.expected);
            const IniSection* section = doc.FindSection(W(c.section));
            if (c.sectionLine) {
                EXPECT_EQ(section->Line(), c.sectionLine);
            }
            if (c.pairLine) {
                EXPECT_EQ(section->FindValue(W(c.key))->line, c.pairLine);
            }
        } else {
            EXPECT_EQ(value, nullptr);
        }
    }
}

TEST(IniDocument, ParseReplacesContentAndKeepsRepeatedSections) {
    IniDocument doc;
    doc.Parse(W(u"[A]\r\nx=1\r\n[A]\r\nx=2\r\n[B]\r\n"));
    ASSERT_EQ(doc.Sections().Size(), 3);
    EXPECT_TRUE(doc.Sections()[1].Name() == u"A");
    doc.Parse(W(u"[C]"));
    ASSERT_EQ(doc.Sections().Size(), 1);
    doc.Parse(WString());
    EXPECT_EQ(doc.Sections().Size(), 0);
}

TEST(IniDocument, SettingsSourceFace) {
    IniDocument doc;
    doc.Parse(W(u"[A]\r\nx=1"));
    SettingsSource& source = doc;
    int status = 5;
    EXPECT_TRUE(source.QueryStatus(&status));
    EXPECT_EQ(status, 0);
    WString value;
    EXPECT_TRUE(source.GetValue(W(u"A"), W(u"x"), &value));
    EXPECT_TRUE(value == u"1");
    EXPECT_FALSE(source.GetValue(W(u"A"), W(u"y"), &value));
    source.SetValue(W(u"A"), W(u"x"), W(u"2"));
    source.SetValue(W(u"B"), W(u"y"), W(u"3"));
    EXPECT_TRUE(*doc.Lookup(W(u"A"), W(u"x")) == u"1");
    EXPECT_TRUE(*doc.Lookup(W(u"B"), W(u"y")) == u"3");
    Array<WString> names;
    source.ListSections(&names);
    ASSERT_EQ(names.Size(), 2);
    EXPECT_TRUE(names[1] == u"B");
}

TEST(IniPath, NamesBesideTheExecutable) {
    struct Case {
        const char16_t* exe;
        const char16_t* ini;
    } cases[] = {
        {u"C:\\x\\setup.exe", u"C:\\x\\setup.ini"},
        {u"C:\\x\\my.setup.exe", u"C:\\x\\my.setup.ini"},
        {u"C:\\x\\setup", u"C:\\x\\setup.ini"},
        {u"C:\\setup.exe", u"C:\\setup.ini"},
        {u"C:\\dir.v2\\setup", u"C:\\dir.v2\\setup.ini"},
    };
    for (const auto& c : cases) EXPECT_TRUE(IniPathForExecutable(W(c.exe)) == c.ini);
}

TEST(IniPath, BytesToText) {
    const uint8_t withBom[] = {0xFF, 0xFE, 'A', 0, 'B', 0};
    EXPECT_TRUE(ConfigurationTextFromBytes(withBom, sizeof withBom) == u"AB");
    const uint8_t noBom[] = {'[', 0, 'S', 0, ']', 0};
    EXPECT_TRUE(ConfigurationTextFromBytes(noBom, sizeof noBom) == u"S]");
    const uint8_t odd[] = {0xFF, 0xFE, 'A', 0, 'B'};
    EXPECT_TRUE(ConfigurationTextFromBytes(odd, sizeof odd) == u"A");
    const uint8_t one[] = {0xFF};
    EXPECT_TRUE(ConfigurationTextFromBytes(one, 1).IsEmpty());
    EXPECT_TRUE(ConfigurationTextFromBytes(nullptr, 0).IsEmpty());
}

}  // namespace
