// Whether a firmware file's identification area holds the manufacturer and hardware
// values of the connected device.
#include <gtest/gtest.h>

#include <string>

#include "protocol/compat.h"
#include "protocol/device_info.h"

namespace zl {
namespace {

using namespace std::string_literals;

const std::u16string kMaker = u"Hallwyn Geraete ";
const std::u16string kHw = u"ZL-Corvel-6 Rev2";
const std::u16string kErased(16, u'\xFFFF');

// "Bootloader", gap, key, one separator, the manufacturer value, the hardware line.
std::u16string Device(const std::u16string& gap, const std::u16string& key = u"Hersteller:",
                      const std::u16string& maker = kMaker, const std::u16string& hw = kHw) {
    return u"Bootloader" + gap + key + u" " + maker + u"\r\nHardware  : " + hw + u"\r\nVersion   : 2.10\r\n";
}
const std::u16string kHeader = u"ZLFW\x0001\x0002" + kMaker + u"\r\n" + kHw + u"\0\0\xFFFF\xFFFF"s;

class KeyDistance : public ::testing::TestWithParam<std::tuple<std::u16string, bool>> {};
TEST_P(KeyDistance, OnlyThirteenCounts) {
    EXPECT_EQ(IsFileCompatibleText(false, Device(std::get<0>(GetParam())), kHeader), std::get<1>(GetParam()));
}
INSTANTIATE_TEST_SUITE_P(Compat, KeyDistance,
                         ::testing::Values(std::make_tuple(u"", false), std::make_tuple(u":\r", false),
                                           std::make_tuple(u":\r\n", true), std::make_tuple(u":\r\n\n", false)));

TEST(Compat, NoManufacturerKey) {
    EXPECT_FALSE(IsFileCompatibleText(false, u"Bootloader:\r\nHardware  : " + kHw + u"\r\n", kHeader));
    EXPECT_FALSE(IsFileCompatibleText(false, u"", kHeader));
}

TEST(Compat, KeyOfTheLanguageAtTheTimeOfTheCheck) {
    EXPECT_FALSE(IsFileCompatibleText(true, Device(u":\r\n"), kHeader));
    EXPECT_TRUE(IsFileCompatibleText(true, Device(u":\r\n", u"Producer  :"), kHeader));
    EXPECT_FALSE(IsFileCompatibleText(false, Device(u":\r\n", u"Producer  :"), kHeader));
}

TEST(Compat, EnglishValuesComeFromTheTranslatedText) {
    const std::u16string stored = ShowPic32(Device(u":\r\n", u"Hersteller:", kMaker, u"ZL-Vierfach-Rev2"), true).deviceInfo;
    EXPECT_FALSE(IsFileCompatibleText(true, stored, kMaker + u"ZL-Vierfach-Rev2"));
    EXPECT_TRUE(IsFileCompatibleText(true, stored, kMaker + u"ZL-Vierfold-Rev2"));
}

TEST(Compat, ErasedHardwareTakesEveryFile) {
    EXPECT_TRUE(IsFileCompatibleText(false, Device(u":\r\n", u"Hersteller:", kMaker, kErased), u""));
    EXPECT_FALSE(IsFileCompatibleText(false, Device(u":\r\n\n", u"Hersteller:", kMaker, kErased), u""));
    const std::u16string almost = kErased.substr(1) + u"x";
    EXPECT_FALSE(IsFileCompatibleText(false, Device(u":\r\n", u"Hersteller:", kMaker, almost), u""));
    EXPECT_TRUE(IsFileCompatibleText(false, Device(u":\r\n", u"Hersteller:", kMaker, almost), kMaker + almost));
}

TEST(Compat, HeaderEndsAtItsFirstZero) {
    EXPECT_FALSE(IsFileCompatibleText(false, Device(u":\r\n"), u"ZLFW\0"s + kMaker + kHw));
    EXPECT_FALSE(IsFileCompatibleText(false, Device(u":\r\n"), kMaker + u"\0"s + kHw));
    EXPECT_TRUE(IsFileCompatibleText(false, Device(u":\r\n"), kHw + kMaker + u"\0junk"s));
}

TEST(Compat, OneDifferingCharacter) {
    EXPECT_FALSE(IsFileCompatibleText(false, Device(u":\r\n"), u"Hallwyn Geraete\r" + kHw));
    EXPECT_FALSE(IsFileCompatibleText(false, Device(u":\r\n"), kMaker + u"ZL-Corvel-6 Rev3"));
}

TEST(Compat, ValuesMayOverlap) {
    const std::u16string device = Device(u":\r\n", u"Hersteller:", u"Hallwyn ZL-Corve", kHw);
    EXPECT_TRUE(IsFileCompatibleText(false, device, u"Hallwyn ZL-Corvel-6 Rev2"));
    EXPECT_FALSE(IsFileCompatibleText(false, device, u"Hallwyn ZL-Corvel-6 Rev"));
}

TEST(Compat, DeviceTextEndsBeforeAValueIsComplete) {
    const std::u16string head = u"Bootloader:\r\nHersteller: ";
    EXPECT_FALSE(IsFileCompatibleText(false, head + u"Hallwyn", kHeader));
    EXPECT_FALSE(IsFileCompatibleText(false, head + kMaker + u"\r\nHardware  : ZL-Corvel-6 Rev", kHeader));
    // a zero character behind a complete value changes nothing
    EXPECT_TRUE(IsFileCompatibleText(false, head + kMaker + u"\r\nHardware  : " + kHw + u"\0"s, kHeader));
}

TEST(Compat, WithoutHardwareKeyTheValueStandsAt11) {
    // characters 11 to 26: "\r\n", the key, the separator and "Ha"
    const std::u16string device = u"Bootloader:\r\nHersteller: " + kMaker + u"\r\n";
    EXPECT_TRUE(IsFileCompatibleText(false, device, kMaker + u"\r\nHersteller: Ha"));
    EXPECT_FALSE(IsFileCompatibleText(false, device, kHeader));
}

}  // namespace
}  // namespace zl
