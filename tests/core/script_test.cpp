#include <gtest/gtest.h>

#include "base/report.h"
#include "demo/script.h"

namespace {

TCDemoCommand Parse(const std::string& line) {
    TParser parser;
    parser.Parse(line);
    return parser.Command;
}

} // namespace

TEST(ScriptReader, SplitsAtSpacesOnlyAndCutsComments) {
    EXPECT_EQ(Parse("DEMO  My   Demo"), (TCDemoCommand{"DEMO", "My", "Demo"}));
    EXPECT_EQ(ArgText(Parse("DEMO  My   Demo"), 1), "My Demo");
    EXPECT_EQ(Parse("RESOLUTIONX 800 "), (TCDemoCommand{"RESOLUTIONX", "800", ""}));
    EXPECT_EQ(ArgText(Parse("DEMO Title // comment"), 1), "Title ");
    EXPECT_EQ(Parse("// anything"), (TCDemoCommand{""}));
    EXPECT_EQ(Parse(""), (TCDemoCommand{""}));
    EXPECT_EQ(Parse("A\tB C"), (TCDemoCommand{"A\tB", "C"}));
    EXPECT_EQ(Parse(" X 1"), (TCDemoCommand{"X", "1"}));
    // Lines longer than the token storage keep their first tokens.
    std::string longLine = "K";
    for (int i = 0; i < 80; ++i) longLine += " t";
    EXPECT_EQ(Parse(longLine).size(), 51u);
    EXPECT_EQ(ArgText(Parse("DEMO"), 1), "");
}

TEST(ScriptReader, LineEndsAndZeroByte) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitScriptLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitScriptLines("a\n"), (V{"a"}));
    EXPECT_EQ(SplitScriptLines("a\n\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitScriptLines(std::string("a\nb\0c\nd", 7)), (V{"a", "b"}));
    EXPECT_EQ(SplitScriptLines(""), V{});
}

TEST(ScriptReader, MacrosApplyInTableOrderOncePerKey) {
    const std::vector<std::string> keys{"$c", "$w"};
    const std::vector<std::string> values{"255 0 0 255", "$c"};
    EXPECT_EQ(ApplyMacros("CLEARCOLOR $c", keys, values), "CLEARCOLOR 255 0 0 255");
    // A value holding an earlier key is not replaced again; only the first
    // occurrence of each key changes.
    EXPECT_EQ(ApplyMacros("$w $c $c", keys, values), "$c 255 0 0 255 $c");
    // Plain text: keys match inside keywords too, an empty key never matches.
    EXPECT_EQ(ApplyMacros("REGISTER", {"E"}, {"x"}), "RxGISTER");
    EXPECT_EQ(ApplyMacros("ABC", {""}, {"x"}), "ABC");
}

TEST(ScriptReader, IntegerConversion) {
    EXPECT_EQ(ParseInteger("$10"), 16);
    EXPECT_EQ(ParseInteger("-7"), -7);
    EXPECT_EQ(ParseInteger("  +42"), 42);
    EXPECT_EQ(ParseInteger("0x1f"), 31);
    EXPECT_EQ(ParseInteger("X1F"), 31);
    EXPECT_EQ(ParseInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseInteger("-$10"), -16);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
    for (const char* bad : {"12a", "", "800 ", "2147483648", "$", "0x", "$100000000", "1.5", "-", " "})
        EXPECT_FALSE(ParseInteger(bad).has_value()) << bad;
    try {
        StrToInt("12a");
        FAIL();
    } catch (const EApplicationError& e) {
        EXPECT_NE(std::string(e.what()).find("'12a' is not a valid integer value"), std::string::npos);
    }
}

TEST(ScriptReader, RealConversionAcceptsPointEverywhere) {
    EXPECT_EQ(ParseReal("1.5"), 1.5L);
    EXPECT_EQ(ParseReal(" -2.5e2 "), -250.0L);
    EXPECT_EQ(ParseReal(".5"), 0.5L);
    EXPECT_EQ(ParseReal("3"), 3.0L);
    for (const char* bad : {"", "abc", "1.5x", "e5", "1e", "1.2.3", "--1"})
        EXPECT_FALSE(ParseReal(bad).has_value()) << bad;
    EXPECT_THROW(StrToFloat("x"), EApplicationError);
}

TEST(ScriptReader, BooleansAndTokens) {
    EXPECT_TRUE(ArgBool(Parse("FULLSCREEN TRUE"), 1));
    EXPECT_TRUE(ArgBool(Parse("FULLSCREEN True"), 1));
    EXPECT_FALSE(ArgBool(Parse("FULLSCREEN 1"), 1));
    EXPECT_FALSE(ArgBool(Parse("FULLSCREEN"), 1));
    const TCDemoCommand c = Parse("RESOLUTIONX 800 ");
    EXPECT_EQ(TokenInt(c, 1), 800);
    EXPECT_THROW(ArgInt(c, 1), EApplicationError);
    EXPECT_EQ(TokenText(c, 7), "");
}
