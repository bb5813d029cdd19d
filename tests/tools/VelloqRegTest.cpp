#include "RegCommand.h"

#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

using namespace velloq;
using velloq::tools::RegExit;

namespace {

struct Outcome {
    RegExit exit;
    std::string out;
    std::string err;
};

Outcome reg(std::vector<std::string> arguments)
{
    std::ostringstream out;
    std::ostringstream err;
    RegExit exit = tools::run_reg_command(arguments, out, err);
    return { exit, out.str(), err.str() };
}

// Runs the real tool on the device folder and returns its exit code and standard output.
std::pair<int, std::string> run_tool(test::TempDevice const& device, std::string const& arguments)
{
    std::string command = "VELLOQ_DEVICE='" + device.path().string() + "' '" VELLOQ_PROGRAM_DIR "/velloq-reg' " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    int status = pclose(pipe);
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, output };
}

}

TEST(VelloqReg, SetThenGetIgnoresTheCaseOfNames)
{
    test::TempDevice device;
    EXPECT_EQ(run_tool(device, "set 'HKEY_CURRENT_USER\\Software\\Ketra' Log dword 1").first, 0);
    auto [code, out] = run_tool(device, "get 'HKEY_CURRENT_USER\\software\\KETRA' log");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "1\n");
    EXPECT_EQ(run_tool(device, "get 'HKEY_CURRENT_USER\\Software\\Ketra' Missing").first, 1);
    EXPECT_EQ(run_tool(device, "frobnicate").first, 2);
}

TEST(VelloqReg, NumbersAndTexts)
{
    test::TempDevice device;
    EXPECT_EQ(reg({ "set", "HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", "Alerts", "dword", "0x10" }).exit, RegExit::Ok);
    EXPECT_EQ(reg({ "get", "HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", "Alerts" }).out, "16\n");
    EXPECT_EQ(reg({ "set", "HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", "Alerts", "dword", "-1" }).exit, RegExit::Ok);
    EXPECT_EQ(reg({ "get", "HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", "Alerts" }).out, "4294967295\n");
    int32_t number = 0;
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Alerts", number));
    EXPECT_EQ(number, -1);

    EXPECT_EQ(reg({ "set", "HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", "Language", "sz", "Русский язык" }).exit, RegExit::Ok);
    EXPECT_EQ(reg({ "get", "HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", "language" }).out, "Русский язык\n");
}

TEST(VelloqReg, ListShowsSubkeysAndValues)
{
    test::TempDevice device;
    reg({ "set", "HKEY_CURRENT_USER\\Software\\Ketra", "Log", "dword", "1" });
    reg({ "set", "HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", "Language", "sz", "English" });
    auto listed = reg({ "list", "HKEY_CURRENT_USER\\Software\\Ketra" });
    EXPECT_EQ(listed.exit, RegExit::Ok);
    EXPECT_EQ(listed.out, "Velloq\\\nLog\tdword\t1\n");
    EXPECT_EQ(reg({ "list", "HKEY_CURRENT_USER\\Nothing" }).exit, RegExit::Missing);
}

TEST(VelloqReg, DeleteReportsAMissingValue)
{
    test::TempDevice device;
    reg({ "set", "HKEY_CURRENT_USER\\Software\\Ketra", "Log", "dword", "1" });
    EXPECT_EQ(reg({ "delete", "HKEY_CURRENT_USER\\Software\\Ketra", "LOG" }).exit, RegExit::Ok);
    EXPECT_EQ(reg({ "delete", "HKEY_CURRENT_USER\\Software\\Ketra", "Log" }).exit, RegExit::Missing);
    EXPECT_EQ(reg({ "delete", "HKEY_CURRENT_USER\\No\\Such\\Key", "Log" }).exit, RegExit::Ok);
}

TEST(VelloqReg, BadArgumentsGiveOneLineAndExitTwo)
{
    test::TempDevice device;
    for (auto const& arguments : std::vector<std::vector<std::string>> {
             {},
             { "get" },
             { "get", "HKEY_CURRENT_USER\\Software" },
             { "set", "HKEY_CURRENT_USER\\Software", "X", "dword" },
             { "set", "HKEY_CURRENT_USER\\Software", "X", "dword", "4294967296" },
             { "set", "HKEY_CURRENT_USER\\Software", "X", "dword", "12abc" },
             { "set", "HKEY_CURRENT_USER\\Software", "X", "dword", "" },
             { "set", "HKEY_CURRENT_USER\\Software", "X", "qword", "1" },
             { "get", "HKEY_CURRENT_CONFIG\\Software", "X" },
             { "list", "HKEY_CURRENT_USER", "extra" },
         }) {
        auto outcome = reg(arguments);
        EXPECT_EQ(outcome.exit, RegExit::BadArguments);
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
}

TEST(VelloqReg, BrokenDatabaseIsAClearError)
{
    test::TempDevice device;
    std::ofstream(device.path() / "registry.db") << std::string(4096, 'z');
    auto outcome = reg({ "get", "HKEY_CURRENT_USER\\Software\\Ketra", "Log" });
    EXPECT_EQ(outcome.exit, RegExit::Unavailable);
    EXPECT_NE(outcome.err.find("not a database"), std::string::npos) << outcome.err;
}

TEST(VelloqReg, ParseDword)
{
    EXPECT_EQ(tools::parse_dword("0"), 0u);
    EXPECT_EQ(tools::parse_dword("4294967295"), 4294967295u);
    EXPECT_EQ(tools::parse_dword("-2147483648"), 0x80000000u);
    EXPECT_EQ(tools::parse_dword("0xFFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_FALSE(tools::parse_dword("-2147483649"));
    EXPECT_FALSE(tools::parse_dword("0x"));
    EXPECT_FALSE(tools::parse_dword("-"));
    EXPECT_FALSE(tools::parse_dword(" 1"));
}
