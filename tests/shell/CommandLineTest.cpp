#include "shell/CommandLine.h"

#include "platform/Process.h"

#include <gtest/gtest.h>

using namespace velloq;

TEST(CommandLine, PlainArgumentsAreJoinedWithBlanks)
{
    char const* argv[] = { "velloq", "open:+4912345", "message" };
    EXPECT_EQ(command_line_from_arguments(3, argv), u"open:+4912345 message");
    char const* none[] = { "velloq" };
    EXPECT_EQ(command_line_from_arguments(1, none), u"");
}

TEST(CommandLine, OddArgumentsSplitBackToThemselves)
{
    char const* argv[] = { "velloq", "with blank", "quote\"inside", "back\\slash\\", "", "tab\there", "ü😀" };
    auto line = command_line_from_arguments(7, argv);
    auto split = platform::split_command_line(u"velloq " + line);
    ASSERT_EQ(split.size(), 7u);
    EXPECT_EQ(split[1], u"with blank");
    EXPECT_EQ(split[2], u"quote\"inside");
    EXPECT_EQ(split[3], u"back\\slash\\");
    EXPECT_EQ(split[4], u"");
    EXPECT_EQ(split[5], u"tab\there");
    EXPECT_EQ(split[6], u"ü😀");
}

TEST(CommandLine, ASingleArgumentIsTheCommandLineAsWritten)
{
    char const* argv[] = { "velloq", "open:+49 170 7654321" };
    EXPECT_EQ(command_line_from_arguments(2, argv), u"open:+49 170 7654321");
}
