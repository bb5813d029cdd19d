#include "platform/Process.h"

#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

using namespace velloq;
using platform::split_command_line;

TEST(SplitCommandLine, QuotedProgramAndArguments)
{
    auto arguments = split_command_line(u"\"/opt/my apps/velloq\" message");
    ASSERT_EQ(arguments.size(), 2u);
    EXPECT_EQ(arguments[0], u"/opt/my apps/velloq");
    EXPECT_EQ(arguments[1], u"message");
}

TEST(SplitCommandLine, BackslashesAndQuotesFollowTheDeviceRules)
{
    auto arguments = split_command_line(u"a\\\\\"b c\" d\\\"e f\\g  \"\"");
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[0], u"a\\b c");
    EXPECT_EQ(arguments[1], u"d\"e");
    EXPECT_EQ(arguments[2], u"f\\g");
    EXPECT_EQ(arguments[3], u"");
}

TEST(SplitCommandLine, BlankLinesGiveNoArguments)
{
    EXPECT_TRUE(split_command_line(u"").empty());
    EXPECT_TRUE(split_command_line(u" \t\n ").empty());
    EXPECT_EQ(split_command_line(u"one\ntwo").size(), 2u);
}

TEST(StartDetached, RunsTheProgramWithItsArguments)
{
    test::TempDevice device;
    auto marker = device.path() / "marker";
    std::string error;
    ASSERT_TRUE(platform::start_detached({ u"" VELLOQ_TEST_MARKER, marker.u16string(), u"message", u"with blank" }, error)) << error;
    ASSERT_TRUE(test::wait_for_file(marker));
    EXPECT_EQ(test::read_file(marker), "message\nwith blank\n");
}

TEST(StartDetached, ReportsAProgramThatCannotRun)
{
    std::string error;
    EXPECT_FALSE(platform::start_detached({ u"/nonexistent/velloq-nothing" }, error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(platform::start_detached({}, error));
}
