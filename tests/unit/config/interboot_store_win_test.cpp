// The interboot store on the real HKEY_CURRENT_USER of the test prefix.
#include "config/interboot_store_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A key of its own per test so that runs do not see each other's values.
class InterbootStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        key_ = "CorvaneTest_Interboot_" + std::to_string(GetCurrentProcessId()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }

    bool KeyExists() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    // The raw value as the registry holds it: type and bytes.
    bool RawValue(const char* name, DWORD* type, std::string* bytes) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        char buffer[4096];
        DWORD size = sizeof(buffer);
        LONG status = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return false;
        bytes->assign(buffer, size);
        return true;
    }
    void WriteRaw(const char* name, const std::string& data) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
        RegCloseKey(key);
    }

    std::string key_;
};

TEST_F(InterbootStoreTest, ValuesAreWriteOnceAndStoredWithoutNul) {
    InterbootStore store(key_.c_str(), false);
    EXPECT_EQ(store.SetInt("Code", 3010), 0);
    EXPECT_EQ(store.SetInt("Code", 0), 3);
    EXPECT_EQ(store.SetString("Code", "x"), 3);
    int32_t value = -5;
    EXPECT_EQ(store.GetInt("Code", &value), 0);
    EXPECT_EQ(value, 3010);

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(RawValue("Code", &type, &bytes));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    // The store hands over the text without its NUL; Wine's ANSI layer adds
    // one when it converts, Windows keeps the bytes as given.
    if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    EXPECT_EQ(bytes, "3010");
}

TEST_F(InterbootStoreTest, SetIntWritesSignedDecimal) {
    struct Case {
        const char* name;
        int32_t value;
        const char* text;
    } cases[] = {
        {"zero", 0, "0"},
        {"positive", 1603, "1603"},
        {"negative", -1, "-1"},
        {"error", static_cast<int32_t>(0xC0000005u), "-1073741819"},
        {"min", INT32_MIN, "-2147483648"},
        {"max", INT32_MAX, "2147483647"},
    };
    InterbootStore store(key_.c_str(), false);
    for (const Case& c : cases) {
        EXPECT_EQ(store.SetInt(c.name, c.value), 0) << c.name;
        NarrowString text;
        ASSERT_EQ(store.GetString(c.name, &text), 0) << c.name;
        EXPECT_STREQ(text.c_str(), c.text);
        int32_t back = 0;
        EXPECT_EQ(store.GetInt(c.name, &back), 0) << c.name;
        EXPECT_EQ(back, c.value) << c.name;
    }
}

TEST_F(InterbootStoreTest, GetIntAcceptsOnlyAWholeDecimalText) {
    struct Case {
        const char* text;
        int result;
        int32_t value;
    } cases[] = {
        {"12", 0, 12},         {"-12", 0, -12},     {"007", 0, 7},          {"12a", 2, 0},
        {"a12", 2, 0},         {"", 2, 0},          {"-", 2, 0},            {" 12", 2, 0},
        {"12 ", 2, 0},         {"+12", 2, 0},       {"1-2", 2, 0},          {"2147483648", 2, 0},
        {"-2147483649", 2, 0}, {"99999999999999999999", 2, 0},
    };
    InterbootStore store(key_.c_str(), false);
    int index = 0;
    for (const Case& c : cases) {
        std::string name = "v" + std::to_string(index++);
        ASSERT_EQ(store.SetString(name.c_str(), c.text), 0);
        int32_t value = 0;
        EXPECT_EQ(store.GetInt(name.c_str(), &value), c.result) << '"' << c.text << '"';
        if (c.result == 0) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    int32_t missing = 77;
    EXPECT_EQ(store.GetInt("missing", &missing), 0);
    EXPECT_EQ(missing, 0);
}

TEST_F(InterbootStoreTest, LongValuesAreReadInFull) {
    InterbootStore store(key_.c_str(), false);
    for (int length : {259, 260, 261, 1000, 3000}) {
        std::string text(length, 'x');
        text[length - 1] = 'E';
        std::string name = "long" + std::to_string(length);
        ASSERT_EQ(store.SetString(name.c_str(), text.c_str()), 0);
        NarrowString back;
        ASSERT_EQ(store.GetString(name.c_str(), &back), 0);
        EXPECT_EQ(back.Length(), length);
        EXPECT_EQ(std::string(back.c_str()), text);
    }
    // A value written by someone else with its NUL reads without it.
    WriteRaw("withNul", std::string(600, 'n'));
    NarrowString back;
    ASSERT_EQ(store.GetString("withNul", &back), 0);
    EXPECT_EQ(back.Length(), 600);
}

TEST_F(InterbootStoreTest, MissingKeyOrValue) {
    InterbootStore store(key_.c_str(), false);
    NarrowString text("left");
    EXPECT_EQ(store.GetString("any", &text), 1);
    EXPECT_EQ(store.DeleteValue("any"), 1);
    EXPECT_TRUE(store.Begin() == store.End());
    EXPECT_FALSE(KeyExists());

    ASSERT_EQ(store.SetString("a", "1"), 0);
    EXPECT_EQ(store.GetString("b", &text), 1);
    EXPECT_EQ(store.DeleteValue("b"), 1);
    EXPECT_EQ(store.DeleteValue("a"), 0);
    EXPECT_EQ(store.DeleteValue("a"), 1);
    // A deleted value can be written again.
    EXPECT_EQ(store.SetString("a", "2"), 0);
    ASSERT_EQ(store.GetString("a", &text), 0);
    EXPECT_STREQ(text.c_str(), "2");
}

TEST_F(InterbootStoreTest, IteratesInValueIndexOrder) {
    InterbootStore store(key_.c_str(), false);
    const char* names[] = {"First", "Second", "Third"};
    std::string long_text(400, 'z');
    const char* data[] = {"1", "-2", long_text.c_str()};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(store.SetString(names[i], data[i]), 0);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    int count = 0;
    for (NameValueStore::Iterator it = store.Begin(); it != store.End(); ++it, ++count) {
        char expected[64];
        DWORD length = sizeof(expected);
        ASSERT_EQ(RegEnumValueA(key, it.Index(), expected, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        NarrowString name, value;
        ASSERT_TRUE(it.Read(&name, &value));
        EXPECT_STREQ(name.c_str(), expected);
        int which = -1;
        for (int i = 0; i < 3; ++i)
            if (std::string(names[i]) == name.c_str()) which = i;
        ASSERT_GE(which, 0);
        EXPECT_STREQ(value.c_str(), data[which]);
    }
    RegCloseKey(key);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(store.End().Index(), 3u);
    NameValueStore::Iterator past = store.End();
    NarrowString name, value;
    EXPECT_FALSE(past.Read(&name, &value));

    // Iterators of different keys never compare equal.
    InterbootStore other((key_ + "_other").c_str(), false);
    EXPECT_TRUE(other.Begin() != store.Begin());
}

TEST_F(InterbootStoreTest, CloseDeletesTheKeyOnlyWhenAsked) {
    struct Case {
        bool preexisting;
        bool deleteOnClose;
        bool survives;
    } cases[] = {
        {true, true, false},
        {false, true, false},
        {true, false, true},
        {false, false, true},
    };
    for (const Case& c : cases) {
        RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
        if (c.preexisting) WriteRaw("FromAnEarlierRun", "5");
        {
            InterbootStore store(key_.c_str(), true);
            ASSERT_EQ(store.SetInt("Now", 1), kStoreOk);
            store.SetDeleteOnClose(c.deleteOnClose);
        }
        EXPECT_EQ(KeyExists(), c.survives) << c.preexisting << c.deleteOnClose;
    }
}

TEST(NarrowStringTest, CopiesAndCompares) {
    NarrowString empty;
    EXPECT_STREQ(empty.c_str(), "");
    NarrowString a("abc");
    NarrowString b(a);
    NarrowString c;
    c = a;
    NarrowString& same = c;
    c = same;
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(c == a);
    EXPECT_FALSE(a == NarrowString("abd"));
    EXPECT_FALSE(a == NarrowString("ab"));
    EXPECT_TRUE(empty == NarrowString(""));
    EXPECT_EQ(a.Length(), 3);
}

}  // namespace
