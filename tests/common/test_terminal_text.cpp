// Text from files on its way to a terminal: every control character and every byte outside
// well-formed UTF-8 is escaped, and nothing else.
#include "common/terminal_text.h"

#include <gtest/gtest.h>

TEST(TerminalText, EscapesControlCharactersAndKeepsText)
{
    EXPECT_EQ(terminalSafe("cpu1"), "cpu1");
    EXPECT_EQ(terminalSafe("\x1b[2J\x1b[H"), "\\x1b[2J\\x1b[H");
    EXPECT_EQ(terminalSafe(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(terminalSafe("a\tb\n"), "a\\x09b\\x0a");
    EXPECT_EQ(terminalSafe("del\x7f"), "del\\x7f");
    // C1 controls, CSI (U+009B) among them, in their UTF-8 form; U+00A0 is text.
    EXPECT_EQ(terminalSafe("\xc2\x80\xc2\x9b" "31m\xc2\xa0"), "\\xc2\\x80\\xc2\\x9b31m\xc2\xa0");
    EXPECT_EQ(terminalSafe("\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x93\xa6"), "\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x93\xa6");
}

TEST(TerminalText, EscapesBytesThatAreNotUtf8)
{
    EXPECT_EQ(terminalSafe("\xff\xfe"), "\\xff\\xfe");
    EXPECT_EQ(terminalSafe("\xc0\xaf"), "\\xc0\\xaf");          // overlong "/"
    EXPECT_EQ(terminalSafe("\xe0\x80\xaf"), "\\xe0\\x80\\xaf");  // overlong, three bytes
    EXPECT_EQ(terminalSafe("\xed\xa0\x80"), "\\xed\\xa0\\x80");  // a surrogate
    EXPECT_EQ(terminalSafe("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80"); // past U+10FFFF
    EXPECT_EQ(terminalSafe("ab\xe4\xb8"), "ab\\xe4\\xb8");       // cut short at the end
    EXPECT_EQ(terminalSafe("\xe4" "a\xb8"), "\\xe4" "a\\xb8");   // cut short inside
}

TEST(TerminalText, MessagesKeepTabsAndTheirLastLineEnd)
{
    EXPECT_EQ(terminalSafe("a\tb\n", true), "a\tb\n");
    EXPECT_EQ(terminalSafe("a\nb\n", true), "a\\x0ab\n");
    EXPECT_EQ(terminalSafe("a\r\n", true), "a\\x0d\n");
}

TEST(TerminalText, SafeTextIsWhatStaysAsItIs)
{
    for (const char *text : {"", "cpu1", "\xe4\xb8\xad\xe6\x96\x87", "a b-c_d.e"})
        EXPECT_TRUE(isTerminalSafe(text)) << text;
    for (const char *text : {"\x1b", "a\tb", "\x7f", "\xc2\x9b", "\xff", "\xe4\xb8", "a\n"})
        EXPECT_FALSE(isTerminalSafe(text)) << text;
}
