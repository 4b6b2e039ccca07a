// The file dialogs' filters by Device box selection, and their split into pairs.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "files/file_filter.h"

namespace zl {
namespace {

const std::u16string kPicDe = u"PIC32 Software (*.spic32) |*.spic32|Alle Dateien (*.*) |*.*||";
const std::u16string kPicEn = u"PIC32 Software (*.spic32) |*.spic32|All Files (*.*) |*.*||";
const std::u16string kHcsDe = u"HCS Software (*.sx) |*.sx|Alle Dateien (*.*) |*.*||";
const std::u16string kHcsEn = u"HCS Software (*.sx) |*.sx|All Files (*.*) |*.*||";

class Filters : public ::testing::TestWithParam<std::tuple<int, bool>> {};
TEST_P(Filters, ByDeviceSelection) {
    const auto [sel, en] = GetParam();
    const FileFilter autoLoad = AutoLoadFilter(en, sel);
    const FileFilter single = SingleFilter(sel);
    if (sel == 0) {
        EXPECT_EQ(autoLoad.filter, en ? kPicEn : kPicDe);
        EXPECT_EQ(single.filter, u"PIC32 Software (*.spic32) |*.spic32||");
        EXPECT_EQ(autoLoad.defExt, u"spic32");
        EXPECT_EQ(single.defExt, u"spic32");
    } else {
        EXPECT_EQ(autoLoad.filter, en ? kHcsEn : kHcsDe);
        EXPECT_EQ(single.filter, u"HCS Software (*.sx) |*.sx||");
        EXPECT_EQ(autoLoad.defExt, u"sx");
        EXPECT_EQ(single.defExt, u"sx");
    }
}
INSTANTIATE_TEST_SUITE_P(FileFilter, Filters, ::testing::Combine(::testing::Values(0, 1, 2, 3, -1), ::testing::Bool()));

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;
Pairs Split(const std::u16string& filter) {
    Pairs pairs;
    for (const FilterEntry& e : SplitFilter(filter)) pairs.emplace_back(e.description, e.pattern);
    return pairs;
}

TEST(FileFilter, SplitIntoPairs) {
    EXPECT_EQ(Split(u"A |*.a|B |*.b||"), (Pairs{{u"A ", u"*.a"}, {u"B ", u"*.b"}}));
    EXPECT_EQ(Split(kPicDe), (Pairs{{u"PIC32 Software (*.spic32) ", u"*.spic32"}, {u"Alle Dateien (*.*) ", u"*.*"}}));
}

}  // namespace
}  // namespace zl
