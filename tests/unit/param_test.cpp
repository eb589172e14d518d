// Typed parameters: bounds checks, the enum entry list, Print, and the exchange with controls.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "settings/param.h"
#include "settings/param_exchange.h"

namespace kestcam {
namespace {

// ---- Param<int>, Param<double> -------------------------------------------------------------

TEST(ParamTest, ClampRaisesToMinAndLowersToMax) {
    Param<int> p("HeightMultiplier", 1, 1, 10);
    p.value = 0;
    EXPECT_FALSE(p.InRange());
    p.Clamp();
    EXPECT_EQ(p.value, 1);
    p.value = 11;
    EXPECT_FALSE(p.InRange());
    p.Clamp();
    EXPECT_EQ(p.value, 10);
}

TEST(ParamTest, BothBoundsAreInRange) {
    Param<int> i("GrabTimeout", 6000, 500, 60000);
    for (int v : {500, 60000}) {
        i.value = v;
        EXPECT_TRUE(i.InRange()) << v;
    }
    i.value = 499;
    EXPECT_FALSE(i.InRange());
    Param<double> d("Gain", 0.0, -1.5, 2.5);
    for (double v : {-1.5, 2.5}) {
        d.value = v;
        EXPECT_TRUE(d.InRange()) << v;
    }
    d.value = 2.5000001;
    EXPECT_FALSE(d.InRange());
}

TEST(ParamTest, ClampWithInvertedBoundsEndsAtMax) {
    Param<int> p("X", 5, 10, 3);
    p.Clamp();
    EXPECT_EQ(p.value, 3);
}

TEST(ParamTest, PrintUsesTheStreamsOwnFormattingAndTheEnumText) {
    Param<double> d("ExposureTime", 1234.5678, 0, 1e6);
    std::ostringstream plain;
    d.Print(plain);
    EXPECT_EQ(plain.str(), "ExposureTime=1234.57\n");
    std::ostringstream precise;
    precise.precision(10);
    d.Print(precise);
    EXPECT_EQ(precise.str(), "ExposureTime=1234.5678\n");

    ParamEnum e("BaslerPort", "COM4");
    e.AddEntry("COM1", 0);
    const Param<std::string> &base = e;
    std::ostringstream out;
    base.Print(out);
    EXPECT_EQ(out.str(), "BaslerPort=COM1\n");
}

// ---- ParamEnum -----------------------------------------------------------------------------

ParamEnum Ports() {
    ParamEnum p("BaslerPort", "COM4");
    p.ClearEntries();
    p.AddEntry("COM1", 0);
    p.AddEntry("COM2", 1);
    p.AddEntry("COM3", 2);
    p.AddEntry("COM4", 3);
    return p;
}

ParamEnum Modes() {
    ParamEnum p("ExposureMode", "Free run programmable");
    p.AddEntry("Free run programmable", 0);
    p.AddEntry("Free run edge controlled", 2);
    p.AddEntry("ExSync level controlled", 4);
    p.AddEntry("ExSync level programmable", 5);
    p.AddEntry("ExSync edge controlled", 6);
    return p;
}

TEST(ParamEnumTest, FirstEntryAddedReplacesTheConstructionText) {
    ParamEnum p = Ports();
    EXPECT_EQ(p.value, "COM1");
    p.value = "COM3";
    p.ClearEntries();
    EXPECT_EQ(p.value, "COM3");
    EXPECT_EQ(p.EntryCount(), 0);
    p.AddEntry("COM9", 8);
    EXPECT_EQ(p.value, "COM9");
}

TEST(ParamEnumTest, EmptyOrNullTextAddsNothing) {
    ParamEnum p("BaslerPort", "COM4");
    p.AddEntry("", 7);
    p.AddEntry(static_cast<const char *>(nullptr), 7);
    EXPECT_EQ(p.EntryCount(), 0);
    EXPECT_EQ(p.value, "COM4");
    p = Ports();
    p.AddEntry(std::string(), 7);
    EXPECT_EQ(p.texts.size(), 4u);
    EXPECT_EQ(p.codes.size(), 4u);
}

TEST(ParamEnumTest, GetEntryGivesTextAndCodeAndRefusesOtherIndexes) {
    ParamEnum p = Modes();
    std::string text;
    int code = -1;
    ASSERT_TRUE(p.GetEntry(2, text, code));
    EXPECT_EQ(text, "ExSync level controlled");
    EXPECT_EQ(code, 4);
    text = "untouched";
    EXPECT_FALSE(p.GetEntry(5, text, code));
    EXPECT_FALSE(p.GetEntry(-1, text, code));
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(code, 4);
}

TEST(ParamEnumTest, CodeOfMatchesTheWholeTextExactlyFirstEntryFirst) {
    ParamEnum p = Ports();
    EXPECT_EQ(p.CodeOf("COM2"), 1);
    for (const char *text : {"com2", "COM", "COM2 ", ""})
        EXPECT_EQ(p.CodeOf(text), 0) << text;
    EXPECT_EQ(p.CodeOf(static_cast<const char *>(nullptr)), 0);
    p.AddEntry("COM2", 9);
    EXPECT_EQ(p.CodeOf("COM2"), 1);
    p.value = "Turbo";
    EXPECT_EQ(p.CurrentCode(), 0);
}

TEST(ParamEnumTest, SetByCodeTakesTheFirstEntryWithTheCodeOrChangesNothing) {
    ParamEnum p = Modes();
    p.SetByCode(3);
    EXPECT_EQ(p.value, "Free run programmable");
    p.SetByCode(4);
    EXPECT_EQ(p.value, "ExSync level controlled");
    p.AddEntry("Alias of six", 6);
    p.SetByCode(6);
    EXPECT_EQ(p.value, "ExSync edge controlled");
}

TEST(ParamEnumTest, CopyCarriesTheListsAndStaysIndependent) {
    ParamEnum original = Modes();
    ParamEnum copy = original;
    copy.AddEntry("Extra", 9);
    copy.value = "Extra";
    EXPECT_EQ(original.EntryCount(), 5);
    EXPECT_EQ(original.value, "Free run programmable");
    ParamEnum assigned;
    assigned = copy;
    EXPECT_EQ(assigned.name, "ExposureMode");
    EXPECT_EQ(assigned.CurrentCode(), 9);
}

// ---- exchange with controls ----------------------------------------------------------------

// An edit field and combo box in one, recording what the exchange did to it.
class FakeControl : public ControlView {
public:
    std::string GetText() const override { return text; }
    void SetText(const std::string &t) override { text = t; }
    void ResetList() override {
        items.clear();
        selection = -1;
    }
    void AddItem(const std::string &t) override { items.push_back(t); }
    int GetSelection() const override { return selection; }
    void SetSelection(int index) override { selection = index; }
    int ItemCount() const override { return static_cast<int>(items.size()); }
    std::string ItemText(int index) const override { return items.at(static_cast<size_t>(index)); }
    void SetReadOnly(bool on) override { readOnly = on; }

    std::string text;
    std::vector<std::string> items;
    int selection = -1;
    bool readOnly = false;
};

TEST(ParamExchangeTest, IntGoesOutAsDecimalAndComesBackLikeAtoi) {
    FakeControl c;
    Param<int> p("GrabTimeout", -6000, -60000, 60000);
    ExchangeInt(ExchangeDirection::ToControl, c, p);
    EXPECT_EQ(c.text, "-6000");
    struct {
        const char *text;
        int expected;
    } cases[] = {{"12abc", 12}, {"abc", 0}, {"  -7", -7}, {"", 0}, {"0x10", 0}, {"99999999999", INT_MAX}};
    for (const auto &k : cases) {
        c.text = k.text;
        ExchangeInt(ExchangeDirection::FromControl, c, p);
        EXPECT_EQ(p.value, k.expected) << '"' << k.text << '"';
    }
}

TEST(ParamExchangeTest, DoubleGoesOutWithFifteenDigitsAndComesBackLikeAtof) {
    FakeControl c;
    Param<double> p("ExposureTime", 1.0 / 3.0, 0, 1);
    ExchangeDouble(ExchangeDirection::ToControl, c, p);
    EXPECT_EQ(c.text, "0.333333333333333");
    p.value = 1234567.0;
    ExchangeDouble(ExchangeDirection::ToControl, c, p);
    EXPECT_EQ(c.text, "1234567");
    c.text = " 1.5e3xyz";
    ExchangeDouble(ExchangeDirection::FromControl, c, p);
    EXPECT_EQ(p.value, 1500.0);
    c.text = "abc";
    ExchangeDouble(ExchangeDirection::FromControl, c, p);
    EXPECT_EQ(p.value, 0.0);
}

TEST(ParamExchangeTest, TextGoesBothWaysUnchanged) {
    FakeControl c;
    Param<std::string> p("ShareName", "  cam 1 ");
    ExchangeText(ExchangeDirection::ToControl, c, p);
    EXPECT_EQ(c.text, "  cam 1 ");
    c.text = "other\tname ";
    ExchangeText(ExchangeDirection::FromControl, c, p);
    EXPECT_EQ(p.value, "other\tname ");
}

TEST(ParamExchangeTest, FillEnumComboListsEntriesSelectsTheLastMatchAndLocksTheEdit) {
    FakeControl c;
    c.items = {"stale"};
    ParamEnum p = Modes();
    p.AddEntry("ExSync level programmable", 7);
    p.value = "ExSync level programmable";
    FillEnumCombo(c, p);
    EXPECT_EQ(c.items, p.texts);
    EXPECT_EQ(c.selection, 5);
    EXPECT_TRUE(c.readOnly);
}

TEST(ParamExchangeTest, FillEnumComboWithAValueOutsideTheListSelectsNothing) {
    FakeControl c;
    c.selection = 1;
    ParamEnum p = Ports();
    p.value = "com2";
    FillEnumCombo(c, p);
    EXPECT_EQ(c.items.size(), 4u);
    EXPECT_EQ(c.selection, -1);
}

TEST(ParamExchangeTest, ReadComboTextTakesTheSelectionOrStoresNone) {
    FakeControl c;
    Param<std::string> p("lutcolumn", "Linear");
    ReadComboText(c, p);
    EXPECT_EQ(p.value, "None");
    c.items = {"None", "Linear", "Log"};
    c.selection = 2;
    ReadComboText(c, p);
    EXPECT_EQ(p.value, "Log");
    c.selection = 3; // a selection the list no longer has
    ReadComboText(c, p);
    EXPECT_EQ(p.value, "None");
}

} // namespace
} // namespace kestcam
