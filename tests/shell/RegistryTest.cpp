#include "shell/Registry.h"

#include "platform/RegistryStore.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace velloq;

namespace {

constexpr char16_t const* velloq_key = u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq";

bool key_exists(platform::Hive hive, std::u16string_view key)
{
    std::vector<platform::RegistryValue> values;
    std::vector<std::u16string> subkeys;
    return platform::RegistryStore::instance().list(hive, key, values, subkeys) == platform::RegistryStatus::Ok;
}

}

TEST(Registry, NumbersAndTextsRoundTrip)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(velloq_key, u"Alerts", -5));
    ASSERT_TRUE(reg_set_string(velloq_key, u"Language", u"Deutsch"));
    int32_t number = 0;
    std::u16string text;
    bool flag = false;
    EXPECT_TRUE(reg_get_int(velloq_key, u"Alerts", number));
    EXPECT_EQ(number, -5);
    EXPECT_TRUE(reg_get_bool(velloq_key, u"Alerts", flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(reg_get_string(velloq_key, u"Language", text));
    EXPECT_EQ(text, u"Deutsch");
    ASSERT_TRUE(reg_set_string(velloq_key, u"Empty", u""));
    text = u"default";
    EXPECT_TRUE(reg_get_string(velloq_key, u"Empty", text));
    EXPECT_EQ(text, u"");
}

TEST(Registry, NamesCompareCaseInsensitively)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    int32_t value = 0;
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\software\\KETRA", u"log", value));
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\SOFTWARE\\Ketra", u"LOG", 0));
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", value));
    EXPECT_EQ(value, 0);
}

TEST(Registry, WrongTypeFailsAndKeepsTheCallersValue)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_string(velloq_key, u"Alerts", u"1"));
    ASSERT_TRUE(reg_set_int(velloq_key, u"Language", 3));
    int32_t number = 77;
    bool flag = true;
    std::u16string text = u"keep";
    EXPECT_FALSE(reg_get_int(velloq_key, u"Alerts", number));
    EXPECT_FALSE(reg_get_bool(velloq_key, u"Alerts", flag));
    EXPECT_FALSE(reg_get_string(velloq_key, u"Language", text));
    EXPECT_EQ(number, 77);
    EXPECT_TRUE(flag);
    EXPECT_EQ(text, u"keep");
}

TEST(Registry, ReadingUnderAMissingKeyCreatesTheKeyEmpty)
{
    test::TempDevice device;
    int32_t number = 9;
    EXPECT_FALSE(key_exists(platform::Hive::CurrentUser, u"Software\\Nobody"));
    EXPECT_FALSE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Nobody", u"Value", number));
    EXPECT_EQ(number, 9);
    EXPECT_TRUE(key_exists(platform::Hive::CurrentUser, u"Software\\Nobody"));
}

TEST(Registry, DeletingCountsAsDoneWhenTheKeyIsMissing)
{
    test::TempDevice device;
    EXPECT_TRUE(reg_delete_value(u"HKEY_CURRENT_USER\\Software\\Nobody", u"Value"));
    EXPECT_FALSE(key_exists(platform::Hive::CurrentUser, u"Software\\Nobody"));

    ASSERT_TRUE(reg_set_int(velloq_key, u"Alerts", 1));
    EXPECT_TRUE(reg_delete_value(velloq_key, u"ALERTS"));
    int32_t number = 4;
    EXPECT_FALSE(reg_get_int(velloq_key, u"Alerts", number));
    EXPECT_EQ(number, 4);
    // The key exists, the value does not: nothing was deleted.
    EXPECT_FALSE(reg_delete_value(velloq_key, u"Alerts"));
}

TEST(Registry, OnlyTheFourHivesAreKeys)
{
    test::TempDevice device;
    int32_t number = 1;
    bool flag = false;
    std::u16string text;
    for (char16_t const* key : { u"HKEY_CURRENT_CONFIG\\Software", u"hkey_current_user\\Software", u"Software\\Ketra",
             u"HKEY_CURRENT_USERS\\Software", u"", u" HKEY_CURRENT_USER\\Software" }) {
        EXPECT_FALSE(reg_set_int(key, u"Value", 1));
        EXPECT_FALSE(reg_set_string(key, u"Text", u"x"));
        EXPECT_FALSE(reg_get_int(key, u"Value", number));
        EXPECT_FALSE(reg_get_bool(key, u"Value", flag));
        EXPECT_FALSE(reg_get_string(key, u"Text", text));
        EXPECT_FALSE(reg_delete_value(key, u"Value"));
    }
    EXPECT_TRUE(reg_set_int(u"HKEY_CLASSES_ROOT\\x", u"v", 1));
    EXPECT_TRUE(reg_set_int(u"HKEY_LOCAL_MACHINE\\x", u"v", 1));
    EXPECT_TRUE(reg_set_int(u"HKEY_USERS\\x", u"v", 1));
    EXPECT_TRUE(reg_set_int(u"HKEY_CURRENT_USER", u"v", 1));
}

TEST(Registry, BrokenDatabaseKeepsDefaults)
{
    test::TempDevice device;
    std::ofstream(device.path() / "registry.db") << std::string(2048, '\x01');
    int32_t number = 12;
    std::u16string text = u"default";
    EXPECT_FALSE(reg_get_int(velloq_key, u"Alerts", number));
    EXPECT_FALSE(reg_get_string(velloq_key, u"Language", text));
    EXPECT_FALSE(reg_set_int(velloq_key, u"Alerts", 1));
    EXPECT_EQ(number, 12);
    EXPECT_EQ(text, u"default");
}

TEST(Registry, AnotherProcessWriteIsSeenAtTheNextRead)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 0));
    int32_t value = -1;
    for (int read = 0; read < 3; ++read)
        ASSERT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", value));
    EXPECT_EQ(value, 0);
    std::string command = "VELLOQ_DEVICE='" + device.path().string() + "' '" VELLOQ_PROGRAM_DIR "/velloq-reg' set "
        "'HKEY_CURRENT_USER\\Software\\Ketra' Log dword 7";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", value));
    EXPECT_EQ(value, 7);
    ASSERT_EQ(std::system((command.substr(0, command.find(" set ")) + " delete 'HKEY_CURRENT_USER\\Software\\Ketra' Log").c_str()), 0);
    EXPECT_FALSE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", value));
}
