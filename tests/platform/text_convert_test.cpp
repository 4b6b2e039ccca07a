// UTF-8 at the program's edges is decoded strictly: what is not UTF-8 becomes U+FFFD
// and never turns into another character, and the byte after a broken sequence stays.
#include <string>

#include <gtest/gtest.h>

#include "platform/text_convert.h"
#include "records/json.h"

namespace zl {
namespace {

TEST(Utf8, BytesThatAreNotUtf8BecomeReplacementCharactersAndNothingIsSwallowed) {
    EXPECT_EQ(FromUtf8("\xc0\xaf"), u"\ufffd\ufffd");                    // an overlong "/"
    EXPECT_EQ(FromUtf8("\xe0\x80\xaf"), u"\ufffd\ufffd\ufffd");          // another overlong "/"
    EXPECT_EQ(FromUtf8("\xed\xa0\x80x"), u"\ufffd\ufffd\ufffdx");       // a lone surrogate
    EXPECT_EQ(FromUtf8("\xe2\x82" "A"), u"\ufffd" "A");                  // cut short: the A stays
    EXPECT_EQ(FromUtf8("\xf4\x90\x80\x80"), u"\ufffd\ufffd\ufffd\ufffd");  // past U+10FFFF
    EXPECT_EQ(FromUtf8("a\xc3"), u"a\ufffd");                             // cut short at the end
    EXPECT_EQ(FromUtf8("\x80\xbf"), u"\ufffd\ufffd");                    // stray continuation bytes
    EXPECT_EQ(FromUtf8("f\xc3\xbcr \xe2\x82\xac \xf0\x9f\x98\x80"), u"f\u00fcr \u20ac \U0001F600");
    EXPECT_EQ(ToUtf8(FromUtf8("f\xc3\xbcr \xf0\x9f\x98\x80")), "f\xc3\xbcr \xf0\x9f\x98\x80");
    // The records take the same decoder.
    EXPECT_EQ(JsonQuote(std::string("\xc0\xaf" "b\xe2\x82" "A")), "\"\\ufffd\\ufffdb\\ufffdA\"");
}

}  // namespace
}  // namespace zl
