#include "host/app_args.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
AppArgs parse(std::vector<const char *> argv, bool skipFirst = true)
{
    return AppArgs(int(argv.size()), argv.data(), skipFirst);
}
} // namespace

TEST(AppArgs, PairsAfterTheProgramPath)
{
    const AppArgs a = parse({"Tessel", "-mutex", "0", "-c", "Deltamaker"});
    std::string c;
    int mutex = 1;
    EXPECT_TRUE(a.getString("c", c));
    EXPECT_EQ(c, "Deltamaker");
    EXPECT_TRUE(a.getInt("mutex", mutex));
    EXPECT_EQ(mutex, 0);
}

TEST(AppArgs, SkipFirstFalseReadsArgumentZero)
{
    const AppArgs a = parse({"-k", "v"}, false);
    std::string v;
    EXPECT_TRUE(a.getString("k", v));
    EXPECT_EQ(v, "v");
    EXPECT_FALSE(parse({"-k", "v"}, true).getString("k", v));
}

TEST(AppArgs, KeyWithoutValueAtTheEndIsIgnored)
{
    const AppArgs a = parse({"Tessel", "-mutex", "0", "-c"});
    std::string c = "untouched";
    EXPECT_FALSE(a.getString("c", c));
    EXPECT_EQ(c, "untouched");
    EXPECT_EQ(a.entries().size(), 1u);
}

TEST(AppArgs, LaterKeyReplacesTheEarlierValue)
{
    std::string c;
    EXPECT_TRUE(parse({"Tessel", "-c", "Deltamaker", "-c", "Other"}).getString("c", c));
    EXPECT_EQ(c, "Other");
}

TEST(AppArgs, LoneArgumentDoesNotShiftThePairing)
{
    const AppArgs a = parse({"Tessel", "-a", "1", "stray", "-b", "2"});
    std::string v;
    EXPECT_TRUE(a.getString("a", v));
    EXPECT_EQ(v, "1");
    EXPECT_TRUE(a.getString("b", v));
    EXPECT_EQ(v, "2");
    EXPECT_EQ(a.entries().size(), 2u);
}

TEST(AppArgs, ValueMayStartWithAHyphen)
{
    const AppArgs a = parse({"Tessel", "-x", "-5", "-y", "z"});
    std::string x;
    int xi = 0;
    EXPECT_TRUE(a.getString("x", x));
    EXPECT_EQ(x, "-5");
    EXPECT_TRUE(a.getInt("x", xi));
    EXPECT_EQ(xi, -5);
    EXPECT_TRUE(a.getString("y", x));
    EXPECT_EQ(x, "z");
}

TEST(AppArgs, GetIntFollowsAtoi)
{
    const AppArgs a = parse({"Tessel", "-m", "abc", "-n", "  42xyz", "-p", "+7"});
    int v = 9;
    EXPECT_TRUE(a.getInt("m", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(a.getInt("n", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(a.getInt("p", v));
    EXPECT_EQ(v, 7);
    v = 1;
    EXPECT_FALSE(a.getInt("absent", v));
    EXPECT_EQ(v, 1);
}

TEST(AppArgs, ToCommandLineInKeyOrder)
{
    AppArgs a = parse({"Tessel", "-x", "5"});
    a.setInt("mutex", 0);
    a.setString("c", "Deltamaker");
    EXPECT_EQ(a.toCommandLine(), "-c Deltamaker -mutex 0 -x 5");
    a.setString("c", "two words");
    EXPECT_EQ(a.toCommandLine(), "-c two words -mutex 0 -x 5");
    EXPECT_EQ(AppArgs().toCommandLine(), "");
}
