#include "platform/Folders.h"
#include "platform/RegistryStore.h"
#include "platform/Utf.h"

#include "support/TempDevice.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <future>

using namespace velloq;
using namespace velloq::platform;

namespace {

RegistryStore& store() { return RegistryStore::instance(); }

}

TEST(RegistryStore, KeysAndNamesKeepTheCaseTheyWereFirstWrittenWith)
{
    test::TempDevice device;
    ASSERT_EQ(store().write(Hive::CurrentUser, u"Software\\Ketra\\Velloq", u"Language", RegistryValue::string(u"en")), RegistryStatus::Ok);
    ASSERT_EQ(store().write(Hive::CurrentUser, u"SOFTWARE\\ketra\\VELLOQ", u"LANGUAGE", RegistryValue::string(u"de")), RegistryStatus::Ok);

    std::vector<RegistryValue> values;
    std::vector<std::u16string> subkeys;
    ASSERT_EQ(store().list(Hive::CurrentUser, u"software\\ketra", values, subkeys), RegistryStatus::Ok);
    EXPECT_EQ(subkeys, std::vector<std::u16string> { u"Velloq" });
    values.clear();
    subkeys.clear();
    ASSERT_EQ(store().list(Hive::CurrentUser, u"Software\\Ketra\\Velloq", values, subkeys), RegistryStatus::Ok);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, u"Language");
    EXPECT_EQ(values[0].text, u"de");
}

TEST(RegistryStore, HivesAreSeparate)
{
    test::TempDevice device;
    ASSERT_EQ(store().write(Hive::LocalMachine, u"Software\\Apps\\Velloq", u"InstallDir", RegistryValue::string(u"/opt/velloq")), RegistryStatus::Ok);
    RegistryValue value;
    EXPECT_EQ(store().read(Hive::CurrentUser, u"Software\\Apps\\Velloq", u"InstallDir", value), RegistryStatus::Missing);
    EXPECT_EQ(store().read(Hive::LocalMachine, u"Software\\Apps\\Velloq", u"InstallDir", value), RegistryStatus::Ok);
}

TEST(RegistryStore, TextStopsAtItsFirstZeroAsOnTheDevice)
{
    test::TempDevice device;
    store().write(Hive::CurrentUser, u"K", u"V", RegistryValue::string(std::u16string(u"ab\0cd", 5)));
    RegistryValue value;
    ASSERT_EQ(store().read(Hive::CurrentUser, u"K", u"V", value), RegistryStatus::Ok);
    EXPECT_EQ(value.text, u"ab");
}

TEST(RegistryStore, DamagedDatabaseIsReportedAndNeverOverwritten)
{
    test::TempDevice device;
    auto path = device.path() / "registry.db";
    std::string garbage(4096, 'x');
    std::ofstream(path, std::ios::binary) << garbage;

    RegistryValue value;
    EXPECT_EQ(store().read(Hive::CurrentUser, u"Software\\Ketra", u"Log", value), RegistryStatus::Unavailable);
    EXPECT_EQ(store().write(Hive::CurrentUser, u"Software\\Ketra", u"Log", RegistryValue::dword(1)), RegistryStatus::Unavailable);
    EXPECT_NE(store().last_error().find("not a database"), std::string::npos) << store().last_error();
    EXPECT_EQ(test::read_file(path), garbage);
}

// A registry an earlier program wrote (schema 1, without the table of programs started) keeps
// its values and gains the table when this program opens it.
TEST(RegistryStore, AnEarlierRegistryIsBroughtUpToDateKeepingItsValues)
{
    test::TempDevice earlier;
    ASSERT_EQ(store().write(Hive::CurrentUser, u"Software\\Ketra", u"Log", RegistryValue::dword(1)), RegistryStatus::Ok);
    auto path = earlier.path() / "registry.db";
    {
        test::TempDevice elsewhere;
        // Opened there, the store lets go of the earlier file.
        RegistryValue value;
        store().read(Hive::CurrentUser, u"Software\\Ketra", u"Log", value);
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, "DROP TABLE notification_runs; PRAGMA user_version = 1;", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(database);
    }
    RegistryValue value;
    ASSERT_EQ(store().read(Hive::CurrentUser, u"Software\\Ketra", u"Log", value), RegistryStatus::Ok);
    EXPECT_EQ(value.number, 1u);
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(database, "SELECT (SELECT user_version FROM pragma_user_version), "
                                 "(SELECT COUNT(*) FROM sqlite_master WHERE name = 'notification_runs')", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 2);
    EXPECT_EQ(sqlite3_column_int(statement, 1), 1);
    sqlite3_finalize(statement);
    sqlite3_close(database);
}

TEST(RegistryStore, AWriteWaitsForAnotherWritersTransactionWhileReadsGoOn)
{
    test::TempDevice device;
    ASSERT_EQ(store().write(Hive::CurrentUser, u"Software\\Ketra", u"Log", RegistryValue::dword(0)), RegistryStatus::Ok);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((device.path() / "registry.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    RegistryValue value;
    ASSERT_EQ(store().read(Hive::CurrentUser, u"Software\\Ketra", u"Log", value), RegistryStatus::Ok);
    EXPECT_EQ(value.number, 0u);
    auto write = std::async(std::launch::async, [] { return store().write(Hive::CurrentUser, u"Software\\Ketra", u"Log", RegistryValue::dword(1)); });
    // Whether the write is already waiting or not yet begun, it must not fail for the other writer.
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(write.get(), RegistryStatus::Ok);
    ASSERT_EQ(store().read(Hive::CurrentUser, u"Software\\Ketra", u"Log", value), RegistryStatus::Ok);
    EXPECT_EQ(value.number, 1u);
}

TEST(RegistryStore, SeveralProcessesWritingLoseNothing)
{
    test::TempDevice device;
    constexpr int processes = 4;
    constexpr int writes = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A fresh connection of its own, as a separate program would have.
            use_device_folder(device.path().string());
            bool all_written = true;
            for (int i = 0; i < writes; ++i) {
                auto name = u"p" + to_u16_decimal(p) + u"_" + to_u16_decimal(i);
                all_written &= store().write(Hive::CurrentUser, u"Concurrent", name, RegistryValue::dword(uint32_t(i))) == RegistryStatus::Ok;
                all_written &= store().write(Hive::CurrentUser, u"Concurrent", u"Counter", RegistryValue::dword(uint32_t(i))) == RegistryStatus::Ok;
            }
            _exit(all_written ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<RegistryValue> values;
    std::vector<std::u16string> subkeys;
    ASSERT_EQ(store().list(Hive::CurrentUser, u"Concurrent", values, subkeys), RegistryStatus::Ok);
    EXPECT_EQ(values.size(), size_t(processes * writes + 1));
}
