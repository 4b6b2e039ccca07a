// Mode strings as the line configurations use them, and the ones that must be refused.
#include <gtest/gtest.h>

#include "platform/comm_dcb.h"

namespace zl {
namespace {

TEST(BuildCommDcb, TheTwoModeStringsOfTheProgram) {
    DCB d{};
    ASSERT_TRUE(BuildCommDCB(u"115200,n,8,1", d));
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_FALSE(d.fInX);
    EXPECT_FALSE(d.fOutX);
    EXPECT_FALSE(d.fOutxCtsFlow);
    EXPECT_FALSE(d.fParity);
    ASSERT_TRUE(BuildCommDCB(u"57600,n,8,1", d));
    EXPECT_EQ(d.BaudRate, 57600u);
}

TEST(BuildCommDcb, OtherFormsAndAbbreviations) {
    DCB d{};
    ASSERT_TRUE(BuildCommDCB(u"96,e,7,2", d));
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.Parity, EVENPARITY);
    EXPECT_TRUE(d.fParity);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
    ASSERT_TRUE(BuildCommDCB(u"COM3: 19200,O,8,1.5,x", d));
    EXPECT_EQ(d.BaudRate, 19200u);
    EXPECT_EQ(d.Parity, ODDPARITY);
    EXPECT_EQ(d.StopBits, ONE5STOPBITS);
    EXPECT_TRUE(d.fOutX);
    EXPECT_TRUE(d.fInX);
    ASSERT_TRUE(BuildCommDCB(u"baud=115200 parity=n data=8 stop=1 octs=on", d));
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_TRUE(d.fOutxCtsFlow);
}

TEST(BuildCommDcb, RefusedStringsLeaveTheBlockAlone) {
    DCB d{};
    d.BaudRate = 1234;
    for (const char16_t* bad : {u"", u"fast,n,8,1", u"115200,q,8,1", u"115200,n,9,1", u"115200,n,8,3",
                                u"115200,n,8,1,z", u"baud=", u"speed=9600", u"115200,n,8,1,x,1", u"0,n,8,1"}) {
        EXPECT_FALSE(BuildCommDCB(bad, d)) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
        EXPECT_EQ(d.BaudRate, 1234u);
    }
}

}  // namespace
}  // namespace zl
