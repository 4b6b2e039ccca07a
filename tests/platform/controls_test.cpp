// The controls model keeps the Win32 meaning of the verbs the dialog relies on.
#include <gtest/gtest.h>

#include "platform/controls.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {
namespace {

class ControlsTest : public ::testing::Test {
protected:
    void SetUp() override { c.Build(MainDialogTemplate(), &MainMenu()); }
    Controls c;
};

TEST_F(ControlsTest, TemplateGivesInitialStatesAndDeviceEntries) {
    EXPECT_EQ(c.GetWindowText(IDC_DISCONNECT), u"Trennen");
    EXPECT_FALSE(c.IsWindowEnabled(IDC_DISCONNECT));
    EXPECT_FALSE(c.IsWindowVisible(IDC_STOPSTART));
    EXPECT_FALSE(c.IsWindowVisible(IDC_THREADS));
    EXPECT_FALSE(c.IsWindowVisible(IDC_READOUT));
    EXPECT_FALSE(c.IsWindowEnabled(IDC_READOUT));
    ASSERT_EQ(c.GetCount(IDC_DEVICE), 4);
    EXPECT_EQ(c.GetLBText(IDC_DEVICE, 2), u"Linkbox K7/9");
    EXPECT_EQ(c.GetCurSel(IDC_DEVICE), -1);
}

TEST_F(ControlsTest, ComboSelectionFollowsDeletesAndClearsOutOfRange) {
    for (auto s : {u"COM1", u"COM3", u"COM7"}) c.AddString(IDC_PORT, s);
    EXPECT_EQ(c.SetCurSel(IDC_PORT, 2), 2);
    EXPECT_EQ(c.GetWindowText(IDC_PORT), u"COM7");
    EXPECT_EQ(c.DeleteString(IDC_PORT, 0), 2);
    EXPECT_EQ(c.GetCurSel(IDC_PORT), 1);  // the selected entry moved up
    EXPECT_EQ(c.DeleteString(IDC_PORT, 1), 1);
    EXPECT_EQ(c.GetCurSel(IDC_PORT), -1);  // the selected entry is gone
    EXPECT_EQ(c.DeleteString(IDC_PORT, 5), CB_ERR);
    EXPECT_EQ(c.SetCurSel(IDC_PORT, 7), CB_ERR);
    EXPECT_EQ(c.GetCurSel(IDC_PORT), -1);
    EXPECT_EQ(c.GetWindowText(IDC_PORT), u"");
    c.SetCurSel(IDC_PORT, 0);
    EXPECT_EQ(c.SetCurSel(IDC_PORT, -1), CB_ERR);
    EXPECT_EQ(c.GetCurSel(IDC_PORT), -1);
}

TEST_F(ControlsTest, FindStringExactIgnoresCaseAndWrapsAfterStart) {
    for (auto s : {u"COM3", u"com7", u"COM7", u"COM70"}) c.AddString(IDC_PORT, s);
    EXPECT_EQ(c.FindStringExact(IDC_PORT, -1, u"COM7"), 1);
    EXPECT_EQ(c.FindStringExact(IDC_PORT, 1, u"COM7"), 2);
    EXPECT_EQ(c.FindStringExact(IDC_PORT, 2, u"com7"), 1);  // wraps round
    EXPECT_EQ(c.FindStringExact(IDC_PORT, -1, u"COM"), CB_ERR);  // whole text only
    Controls empty;
    empty.Build(MainDialogTemplate());
    EXPECT_EQ(empty.FindStringExact(IDC_PORT, -1, u"COM3"), CB_ERR);
}

TEST_F(ControlsTest, ProgressStepStartsOverPastTheMaximumAndRangeIs16Bit) {
    c.SetRange(IDC_PROGRESS, 0, 200);
    c.SetPos(IDC_PROGRESS, 0);
    EXPECT_EQ(c.SetStep(IDC_PROGRESS, 1), 10);  // the default step
    for (int i = 0; i < 200; ++i) c.StepIt(IDC_PROGRESS);
    EXPECT_EQ(c.GetPos(IDC_PROGRESS), 200);
    EXPECT_EQ(c.StepIt(IDC_PROGRESS), 200);
    EXPECT_EQ(c.GetPos(IDC_PROGRESS), 0);

    c.SetRange(IDC_PROGRESS, 0, 1000);
    c.SetStep(IDC_PROGRESS, 3);
    c.SetPos(IDC_PROGRESS, 0);
    for (int i = 0; i < 333; ++i) c.StepIt(IDC_PROGRESS);
    EXPECT_EQ(c.GetPos(IDC_PROGRESS), 999);
    c.StepIt(IDC_PROGRESS);  // the 334th step passes 1000
    EXPECT_LT(c.GetPos(IDC_PROGRESS), 3);

    c.SetRange(IDC_PROGRESS, 0, 70000);  // carried as 16 bits: 70000 & 0xFFFF
    EXPECT_EQ(c.Get(IDC_PROGRESS).hi, 70000 & 0xFFFF);
    c.SetPos(IDC_PROGRESS, 99999);
    EXPECT_EQ(c.GetPos(IDC_PROGRESS), 70000 & 0xFFFF);
}

TEST_F(ControlsTest, WindowTextEndsAtFirstZeroAndMenuRadioMarksOne) {
    c.SetWindowText(IDC_FW_LEFT, std::u16string(u"abc\0def", 7));
    EXPECT_EQ(c.GetWindowText(IDC_FW_LEFT), u"abc");
    c.CheckMenuRadioItem(0, 1, 1);
    EXPECT_FALSE(c.IsMenuChecked(ID_LANGUAGE_GERMAN));
    EXPECT_TRUE(c.IsMenuChecked(ID_LANGUAGE_ENGLISH));
    c.CheckMenuRadioItem(0, 1, 0);
    EXPECT_TRUE(c.IsMenuChecked(ID_LANGUAGE_GERMAN));
    EXPECT_FALSE(c.IsMenuChecked(ID_LANGUAGE_ENGLISH));
}

TEST_F(ControlsTest, ListenerHearsChangesButNotNoOps) {
    std::vector<int> heard;
    c.SetListener([&](int id) { heard.push_back(id); });
    c.EnableWindow(IDC_HELP, true);  // already enabled
    c.EnableWindow(IDC_HELP, false);
    c.SetWindowText(IDC_STATUS, u"x");
    EXPECT_EQ(heard, (std::vector<int>{IDC_HELP, IDC_STATUS}));
}

}  // namespace
}  // namespace zl
