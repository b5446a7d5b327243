#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/file_url.h"
#include "config/target_path.h"

namespace {

std::u16string S(const WString& w) { return std::u16string(w.c_str(), static_cast<size_t>(w.Length())); }

TEST(TargetPath, FileNameFromUrl) {
    struct Case {
        const char16_t* url;
        const char16_t* name;
    };
    const Case cases[] = {
        {u"http://example.com/files/setup.exe", u"setup.exe"},
        {u"https://example.com/setup.exe?lang=en&id=5", u"setup.exe"},
        {u"ftp://example.com/pub/vcredist_x86.exe", u"vcredist_x86.exe"},
        // Path and query without a dot: the last dotted part before them.
        {u"http://download.example.com/get?id=17", u"download.example.com"},
        {u"http://example.com/download", u"example.com"},
        // Ending with a separator and no dot after the host part: empty.
        {u"http://server/share/", u""},
        {u"http://server/share/dir.v2/", u""},
        // A dot in the query: the text after the last separator.
        {u"http://server/get?v=1.2", u"v=1.2"},
        // No separator at all.
        {u"setup.exe", u"setup.exe"},
        {u"x", u"x"},
        {u"", u""},
        {u".", u"."},
        {u"/", u""},
        // A second "://" ends the URL at its colon: the outer URL names the file.
        {u"http://mirror.example.com/r.cgi?to=http://origin.example.com/app.msi", u"r.cgi"},
        {u"http://mirror.example.com/go?http://origin.example.com/app.msi", u"mirror.example.com"},
        {u"http://a/redir/file.zip?u=ftp://b/c.exe", u"file.zip"},
        // Only one "://": the second search starts behind the first.
        {u"http://://", u""},
        {u"file:///C:/Setup/x.exe", u"x.exe"},
        {u"\\\\server\\share\\redist\\vc.exe", u"vc.exe"},
        {u"C:\\Setup\\tool.exe", u"tool.exe"},
        {u"http://h/a\"b|c<d>e*f.exe", u"f.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S(FileNameFromUrl(WString(c.url))), std::u16string(c.name)) << "case " << (&c - cases);
    }
}

TEST(TargetPath, LocalPathOfFileUrl) {
    struct Case {
        const char16_t* url;
        const char16_t* path;
    };
    const Case cases[] = {
        {u"file:///C:/Setup/x.exe", u"C:\\Setup\\x.exe"},
        {u"FILE:///c:/x.exe", u"c:\\x.exe"},
        // A host names a share of that machine, never a folder below the chainer's.
        {u"file://host/share/x.exe", u"\\\\host\\share\\x.exe"},
        {u"File://10.0.0.5/dist/sub/x.msi", u"\\\\10.0.0.5\\dist\\sub\\x.msi"},
        {u"file:////host/share/x.exe", u"\\\\host\\share\\x.exe"},
        {u"file://localhost/C:/x.exe", u"C:\\x.exe"},
        {u"file://LOCALHOST/C:/x.exe", u"C:\\x.exe"},
        {u"file://localhostname/share/x.exe", u"\\\\localhostname\\share\\x.exe"},
        {u"file://C:/x.exe", u"C:\\x.exe"},
        // Never a path relative to some folder of the machine.
        {u"file://localhost/share/x.exe", u"\\\\localhost\\share\\x.exe"},
        {u"file:///x.exe", u""},
        {u"file:///C:x.exe", u""},
        {u"file://C:x.exe", u""},
        {u"file://", u""},
        {u"http://host/x.exe", u""},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(IsLocalFileUrl(WString(c.url)) || !*c.path) << "case " << (&c - cases);
        EXPECT_EQ(S(LocalPathOfFileUrl(WString(c.url))), std::u16string(c.path)) << "case " << (&c - cases);
    }
}

TEST(TargetPath, NameWindowBoundaries) {
    // 40, 41 and 50 characters without a separator before them.
    for (int length : {5, 40, 41, 42, 50, 300}) {
        std::u16string name(static_cast<size_t>(length - 4), u'a');
        size_t i;
        name += u".exe";
        for (i = 0; i < name.size() - 4; ++i) name[i] = static_cast<char16_t>(u'a' + i % 26);
        size_t expect = length > 41 ? 41 : static_cast<size_t>(length);
        for (const char16_t* lead : {u"http://h/", u"", u"C:\\x\\"}) {
            std::u16string url = lead + name;
            EXPECT_EQ(S(FileNameFromUrl(WString(url.c_str()))), name.substr(name.size() - expect)) << length;
        }
    }
}

TEST(TargetPath, DownloadTargetPath) {
    struct Case {
        const char16_t* downloadFolder;
        const char16_t* location;
        const char16_t* folder;
        const char16_t* expected;
    };
    const char16_t* url = u"http://example.com/files/setup.exe?x=1";
    const Case cases[] = {
        {u"C:\\dl\\", url, u"", u"C:\\dl\\setup.exe"},
        {u"C:\\dl", url, u"", u"C:\\dl\\setup.exe"},
        {u"C:\\dl\\", url, u"sub?x.exe", u"C:\\dl\\sub\\x.exe"},
        {u"C:\\dl\\", url, u"sub\\", u"C:\\dl\\sub\\setup.exe"},
        {u"C:\\dl\\", url, u"sub", u"C:\\dl\\sub\\setup.exe"},
        {u"C:\\dl\\", url, u"a\\b", u"C:\\dl\\a\\b\\setup.exe"},
        {u"C:\\dl\\", url, u"?named.exe", u"C:\\dl\\named.exe"},
        {u"C:\\dl\\", url, u"sub?", u"C:\\dl\\sub\\setup.exe"},
        // Only the first "?" splits; the rest belongs to the file name.
        {u"C:\\dl\\", url, u"sub?a?b", u"C:\\dl\\sub\\a?b"},
        // No download folder: no leading backslash is invented.
        {u"", url, u"", u"setup.exe"},
        {u"", url, u"sub", u"sub\\setup.exe"},
        {u"", url, u"?x.exe", u"x.exe"},
        // A URL without a name: the path ends in the folder.
        {u"C:\\dl\\", u"http://server/share/", u"", u"C:\\dl\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S(DownloadTargetPath(WString(c.downloadFolder), WString(c.location), WString(c.folder))),
                  std::u16string(c.expected))
            << "case " << (&c - cases);
    }
}

TEST(TargetPath, DistinctDownloadTargets) {
    struct Case {
        std::vector<const char16_t*> targets;
        std::vector<const char16_t*> expected;  // null: unchanged
    };
    const Case cases[] = {
        {{u"C:\\dl\\a.exe", u"C:\\dl\\b.exe"}, {nullptr, nullptr}},
        // The first keeps its path; letter case does not make a second one distinct.
        {{u"C:\\dl\\setup.exe", u"C:\\DL\\Setup.exe"}, {nullptr, u"C:\\DL\\App2\\Setup.exe"}},
        {{u"C:\\dl\\s.exe", u"C:\\dl\\t.exe", u"C:\\dl\\s.exe"}, {nullptr, nullptr, u"C:\\dl\\App3\\s.exe"}},
        // A moved name that is taken in turn goes on to App<N>-2.
        {{u"C:\\dl\\App2\\s.exe", u"C:\\dl\\s.exe", u"C:\\dl\\s.exe"},
         {nullptr, nullptr, u"C:\\dl\\App3\\s.exe"}},
        {{u"C:\\dl\\s.exe", u"C:\\dl\\App2\\s.exe", u"C:\\dl\\s.exe"},
         {nullptr, nullptr, u"C:\\dl\\App3\\s.exe"}},
        {{u"C:\\dl\\App2\\s.exe", u"C:\\dl\\s.exe"}, {nullptr, nullptr}},
        {{u"C:\\dl\\s.exe", u"C:\\dl\\App2\\s.exe", u"C:\\dl\\App2\\s.exe"},
         {nullptr, nullptr, u"C:\\dl\\App2\\App3\\s.exe"}},
        {{u"C:\\dl\\s.exe", u"C:\\dl\\App2\\s.exe", u"C:\\dl\\s.exe", u"C:\\dl\\App3\\s.exe"},
         {nullptr, nullptr, u"C:\\dl\\App3\\s.exe", u"C:\\dl\\App3\\App4\\s.exe"}},
        // One target's part file is another's target.
        {{u"C:\\dl\\s.exe", u"C:\\dl\\s.exe.part"}, {nullptr, u"C:\\dl\\App2\\s.exe.part"}},
        {{u"C:\\dl\\s.exe.part", u"C:\\dl\\s.exe"}, {nullptr, u"C:\\dl\\App2\\s.exe"}},
        // Or the validator file kept beside it.
        {{u"C:\\dl\\s.exe", u"C:\\dl\\s.exe.part.validator"}, {nullptr, u"C:\\dl\\App2\\s.exe.part.validator"}},
        // Prerequisites without a target (no download) take part in nothing.
        {{u"", u""}, {nullptr, nullptr}},
    };
    for (const Case& c : cases) {
        Array<WString> targets;
        Array<int> numbers;
        for (size_t i = 0; i < c.targets.size(); ++i) {
            targets.Add(WString(c.targets[i]));
            numbers.Add(static_cast<int>(i) + 1);
        }
        Array<bool> changed;
        DistinctDownloadTargets(&targets, numbers, &changed);
        ASSERT_EQ(changed.Size(), targets.Size());
        for (size_t i = 0; i < c.targets.size(); ++i) {
            const int at = static_cast<int>(i);
            const char16_t* want = c.expected[i] ? c.expected[i] : c.targets[i];
            EXPECT_EQ(S(targets[at]), std::u16string(want)) << "case " << (&c - cases) << " item " << i;
            EXPECT_EQ(changed[at], c.expected[i] != nullptr) << "case " << (&c - cases) << " item " << i;
        }
    }
}

TEST(TargetPath, DownloadTargetsOfAList) {
    struct Item {
        int kind;
        const char16_t* location;
        const char16_t* folder;
        const char16_t* target;
    } items[] = {
        {kLocationUrl, u"http://h/a/setup.exe", u"", u"C:\\dl\\setup.exe"},
        {kLocationSetupFile, u"setup.exe", u"", u""},
        {kLocationUrl, u"FILE:///C:/setup.exe", u"", u""},
        {kLocationOpenSite, u"http://h/setup.exe", u"", u""},
        {kLocationUrl, u"http://h/b/setup.exe", u"", u"C:\\dl\\App5\\setup.exe"},
        {kLocationUrl, u"http://h/c/x.msi", u"?setup.exe", u"C:\\dl\\App6\\setup.exe"},
    };
    Array<Prerequisite> list;
    for (const Item& item : items) {
        Prerequisite p;
        p.LocationKind = item.kind;
        p.Location = item.location;
        p.Folder = item.folder;
        list.Add(p);
    }
    Array<bool> moved;
    Array<WString> targets = DownloadTargets(list, WString(u"C:\\dl"), &moved);
    ASSERT_EQ(targets.Size(), list.Size());
    for (int i = 0; i < targets.Size(); ++i) {
        EXPECT_EQ(S(targets[i]), std::u16string(items[i].target)) << "item " << i;
        EXPECT_EQ(moved[i], i >= 4) << "item " << i;
    }
}

}  // namespace
