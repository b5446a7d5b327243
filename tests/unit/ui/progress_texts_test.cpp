#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "check/code_explanations.h"
#include "test_values.h"
#include "ui/progress_model.h"
#include "ui/progress_texts.h"
#include "ui/text_languages.h"

namespace {

TEST(ProgressTexts, BytesReadInTheUnitOfTheTotalWithTenthsCut) {
    struct Case {
        uint64_t done, total;
        const char* doneText;
        const char* totalText;
        ByteAmounts::Unit unit;
    };
    const uint64_t MiB = 1ull << 20, GiB = 1ull << 30;
    const Case cases[] = {
        {0, 0, "0.0", "0.0", ByteAmounts::kKilobytes},
        {512, 1023, "0.5", "0.9", ByteAmounts::kKilobytes},
        {MiB - 1, MiB - 1, "1023.9", "1023.9", ByteAmounts::kKilobytes},
        {MiB - 1, MiB, "0.9", "1.0", ByteAmounts::kMegabytes},  // not done yet: never reads 1.0 of 1.0
        {12 * MiB + MiB * 35 / 100, 48 * MiB, "12.3", "48.0", ByteAmounts::kMegabytes},
        {3000, 2048, "2.0", "2.0", ByteAmounts::kKilobytes},  // more than announced: held at the total
        {GiB, 0xFFFFFFFFull, "1.0", "3.9", ByteAmounts::kGigabytes},
        {0, 1ull << 40, "0.0", "3.9", ByteAmounts::kGigabytes},
    };
    for (const Case& c : cases) {
        ByteAmounts a = ByteAmountsOf(c.done, c.total);
        EXPECT_EQ(Printable(a.done), c.doneText) << c.done << " of " << c.total;
        EXPECT_EQ(Printable(a.total), c.totalText) << c.done << " of " << c.total;
        EXPECT_EQ(a.unit, c.unit) << c.done << " of " << c.total;
    }
}

// A run as the observer reports it, step by step, with the bar after each
// step: "plan D3000 D0 I" (kinds with expected sizes), "count N", "item D|S|I",
// "started TOTAL", "bytes N", "placed" (the file is in place), "fail", "finish".
struct BarCase {
    const char* name;
    const char* steps;
    const char* bar;  // position after each step; "~" marks a marquee
};

void Drive(ProgressModel* model, const std::string& step) {
    std::istringstream in(step);
    std::string verb;
    in >> verb;
    auto kindOf = [](char c) { return c == 'D' ? WorkKind::Download : c == 'S' ? WorkKind::OpenSite : WorkKind::Install; };
    if (verb == "plan") {
        Array<PlannedWork> plan;
        std::string work;
        while (in >> work) {
            PlannedWork w;
            w.kind = kindOf(work[0]);
            w.size = work.size() > 1 ? std::stoull(work.substr(1)) : 0;
            plan.Add(w);
        }
        model->SetPlan(plan);
    } else {
        std::string arg;
        in >> arg;
        if (verb == "count") model->SetPhaseCount(std::stoull(arg));
        else if (verb == "item") model->StartItem(kindOf(arg[0]));
        else if (verb == "started") model->TransferStarted(std::stoull(arg));
        else if (verb == "bytes") model->AddBytes(std::stoull(arg), 0);
        else if (verb == "placed") model->TransferDone();
        else if (verb == "fail") model->ItemFailed();
        else if (verb == "finish") model->SequenceDone();
        else ADD_FAILURE() << "unknown step " << step;
    }
}

TEST(ProgressTexts, OneBarForTheWholeRunThatNeverRunsAhead) {
    const BarCase cases[] = {
        // Downloads share half the bar by size (3000 and 1000), the two
        // installs the other half; a download is a marquee until its size
        // is known, and an install is done when the next item begins.
        {"sizes and counts",
         "plan D3000 D1000 I I|count 2|item D|started 3000|bytes 1500|placed|item D|started 0|bytes 500|placed|"
         "count 2|item I|item I|finish",
         "0 0 ~0 0 1875 3750 ~3750 ~3750 ~3750 5000 5000 5000 7500 10000"},
        // An unknown size weighs as the mean of the known ones.
        {"unknown size as the mean", "plan D0 D2000 I|count 2|item D|placed|item D|started 2000|bytes 1000",
         "0 0 ~0 3333 ~3333 3333 4999"},
        // A failed item is not done: the bar goes back to its start and
        // stays there; the whole run done fills it.
        {"failed download", "plan D100 I|count 1|item D|started 100|bytes 40|fail|count 0|finish",
         "0 0 ~0 0 2000 0 0 10000"},
        // A reconnection keeps the bar until the bytes held are reported again.
        {"reconnection", "plan D100|count 1|item D|started 100|bytes 60|started 100|bytes 60|bytes 10",
         "0 0 ~0 0 6000 6000 6000 7000"},
        {"more bytes than the size", "count 1|item D|started 100|bytes 150", "0 ~0 0 9999"},
        {"4 GiB less one byte", "count 1|item D|started 4294967295|bytes 4294967294", "0 ~0 0 9999"},
        // Without a plan every phase counts as the last; items beyond the
        // count stay at the end of the phase.
        {"no plan", "count 3|item I|item I|item I|item I|finish", "0 0 3333 6666 10000 10000"},
        // A phase without a count takes the plan's.
        {"count from the plan", "plan S I I|item S|item I|item I", "0 0 3333 6666"},
        {"held item count", "count 70000|item I|item I", "0 0 0"},
    };
    for (const BarCase& c : cases) {
        ProgressModel model;
        std::istringstream steps(c.steps), bars(c.bar);
        std::string step, expected;
        while (std::getline(steps, step, '|')) {
            Drive(&model, step);
            ASSERT_TRUE(bars >> expected) << c.name << ": no expectation for " << step;
            std::string seen = (model.Marquee() ? "~" : "") + std::to_string(model.Position());
            EXPECT_EQ(seen, expected) << c.name << " after " << step;
        }
        EXPECT_FALSE(bars >> expected) << c.name << ": more expectations than steps";
    }
}

TEST(ProgressTexts, RateAndTimeLeftFromTheLastSeconds) {
    const uint64_t MiB = 1ull << 20;
    ProgressModel model;
    model.SetPhaseCount(1);
    model.StartItem(WorkKind::Download);
    model.TransferStarted(10 * MiB);
    model.AddBytes(0, 1000);
    model.AddBytes(MiB, 1500);
    EXPECT_EQ(model.BytesPerSecond(), 0u) << "less than a second measured";
    EXPECT_EQ(model.SecondsLeft(), -1);
    model.AddBytes(MiB, 2000);
    EXPECT_EQ(model.BytesPerSecond(), 2 * MiB);
    EXPECT_EQ(model.SecondsLeft(), 4);
    model.Waiting();
    EXPECT_EQ(model.BytesPerSecond(), 0u) << "measured afresh after a pause";
    model.AddBytes(MiB, 60000);
    model.AddBytes(MiB, 61000);
    EXPECT_EQ(model.BytesPerSecond(), MiB);
    // Samples older than five seconds drop out.
    for (uint32_t t = 61500; t <= 70000; t += 500) model.AddBytes(MiB / 2, t);
    EXPECT_EQ(model.BytesPerSecond(), MiB);
}

TEST(ProgressTexts, RateAndTimeLeftAsTheLineWordsThem) {
    const struct {
        uint64_t rate;
        const char* value;
        RateAmount::Unit unit;
    } rates[] = {{0, "0", RateAmount::kKilobytes}, {1023 * 1024, "1023", RateAmount::kKilobytes},
                 {1 << 20, "1.0", RateAmount::kMegabytes}, {(5 << 20) / 4, "1.2", RateAmount::kMegabytes}};
    for (const auto& r : rates) {
        RateAmount a = RateAmountOf(r.rate);
        EXPECT_EQ(Printable(a.value), r.value) << r.rate;
        EXPECT_EQ(a.unit, r.unit) << r.rate;
    }
    const struct {
        int64_t seconds;
        uint32_t value, minutes;
        TimeLeft::Unit unit;
    } times[] = {{-1, 0, 0, TimeLeft::kSeconds},   {7, 7, 0, TimeLeft::kSeconds},
                 {11, 15, 0, TimeLeft::kSeconds},  {89, 90, 0, TimeLeft::kSeconds},
                 {90, 2, 0, TimeLeft::kMinutes},   {5399, 90, 0, TimeLeft::kMinutes},
                 {5400, 1, 30, TimeLeft::kHours},  {7261, 2, 2, TimeLeft::kHours}};
    for (const auto& t : times) {
        TimeLeft left = TimeLeftOf(t.seconds);
        EXPECT_EQ(left.value, t.value) << t.seconds;
        EXPECT_EQ(left.minutes, t.minutes) << t.seconds;
        EXPECT_EQ(left.unit, t.unit) << t.seconds;
    }
}

int CountUnits(const WString& text, void*) { return text.Length(); }

TEST(ProgressTexts, ItemNamesFromTheirFormatAndFittedBeforeTheirNumbers) {
    const struct {
        const char16_t* format;
        const char16_t* text;
        const char16_t* name;  // null: not of the format
    } names[] = {
        {u"Installing %s", u"Installing Foo Runtime", u"Foo Runtime"},
        {u"%s wird installiert", u"Foo wird installiert", u"Foo"},
        {u"Installing %s", u"Installing ", u""},
        {u"Installing %s", u"Downloading Foo", nullptr},
        {u"Installing %s (%s)", u"Installing Foo (x)", nullptr},  // one argument only
        {u"a%sa", u"a", nullptr},                                  // the ends may not overlap
    };
    for (const auto& n : names) {
        WString name;
        EXPECT_EQ(ArgumentOfFormat(WString(n.format), WString(n.text), &name), n.name != nullptr)
            << Printable(WString(n.text));
        if (n.name) {
            EXPECT_EQ(Printable(name), Printable(WString(n.name)));
        }
    }
    const struct {
        const char16_t* text;
        const char16_t* suffix;
        int width;
        const char16_t* line;
    } lines[] = {
        {u"Downloading Foo", u" (1.0 of 2.0 MB)", 40, u"Downloading Foo (1.0 of 2.0 MB)"},
        {u"Downloading Foo Runtime", u" (1.0 of 2.0 MB)", 30, u"Downloading F\u2026 (1.0 of 2.0 MB)"},
        {u"Downloading Foo", u"", 8, u"Downloa\u2026"},
        {u"Downloading", u" (1.0 of 2.0 MB)", 5, u"\u2026 (1.0 of 2.0 MB)"},  // the numbers stay whole
        {u"ab\U0001F600cd", u"", 4, u"ab\u2026"},                            // no half of a pair
    };
    for (const auto& l : lines)
        EXPECT_EQ(Printable(FitLine(WString(l.text), WString(l.suffix), l.width, CountUnits, nullptr)),
                  Printable(WString(l.line)))
            << Printable(WString(l.text)) << " in " << l.width;
}

TEST(ProgressTexts, EveryExplainedCodeHasItsOwnString) {
    std::set<int> ids;
    for (int i = 0; i < kCodeExplanationCount; ++i) {
        int id = ResultTextId(kCodeExplanations[i].code);
        EXPECT_GE(id, 300) << kCodeExplanations[i].code;
        EXPECT_TRUE(ids.insert(id).second) << "string id used twice: " << id;
    }
    EXPECT_EQ(ResultTextId(0xE0000001u), 0);
}

// Every text is shipped in every language, and a translation takes the
// English text's arguments: as many %s (a format filled with fewer would
// read past them), nothing else that Format would read.
TEST(ProgressTexts, EveryTextInEveryLanguageWithItsArguments) {
    auto arguments = [](const char16_t* text) {
        int count = 0;
        for (const char16_t* p = text; *p; ++p)
            if (p[0] == u'%') {
                EXPECT_TRUE(p[1] == u's') << "only %s in texts";
                if (p[1]) ++p;
                ++count;
            }
        return count;
    };
    ASSERT_EQ(kTextLanguageCount, 9);
    for (int i = 0; i < kShippedTextCount; ++i) {
        const ShippedText& text = kShippedTexts[i];
        ASSERT_TRUE(text.texts[0] && *text.texts[0]) << text.id;
        for (int language = 1; language < kTextLanguageCount; ++language) {
            const char16_t* t = text.texts[language];
            EXPECT_TRUE(t && *t) << text.id << " " << kTextLanguages[language].tag;
            if (t) {
                EXPECT_EQ(arguments(t), arguments(text.texts[0])) << text.id << " " << kTextLanguages[language].tag;
            }
        }
    }
    for (int language = 0; language < kTextLanguageCount; ++language)
        EXPECT_EQ(TextsCovered(language), kShippedTextCount) << kTextLanguages[language].tag;
    // The result texts are all there, once each.
    std::set<int> ids;
    for (int i = 0; i < kShippedTextCount; ++i) EXPECT_TRUE(ids.insert(kShippedTexts[i].id).second) << kShippedTexts[i].id;
    for (int i = 0; i < kCodeExplanationCount; ++i) EXPECT_TRUE(ids.count(ResultTextId(kCodeExplanations[i].code)));
}

}  // namespace

