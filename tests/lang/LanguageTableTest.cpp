#include "lang/LanguageTable.h"

#include "platform/Utf.h"
#include "shell/Registry.h"
#include "skin/LanguageMenu.h"
#include "skin/Properties.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace velloq;

namespace {

class Languages : public testing::Test {
protected:
    void SetUp() override
    {
        folder = device.path() / "program";
        std::filesystem::create_directories(folder);
        lang.emplace("LANG", "de_DE.UTF-8");
        all.emplace("LC_ALL", "");
        messages.emplace("LC_MESSAGES", "");
    }
    void write(std::string const& name, std::string const& bytes) { std::ofstream(folder / name, std::ios::binary) << bytes; }
    std::u16string program() const { return folder.u16string(); }

    // An empty LC_ALL or LC_MESSAGES counts as unset.
    std::optional<test::ScopedEnvironment> lang, all, messages;
    test::TempDevice device;
    std::filesystem::path folder;
    LanguageTable table;
};

}

TEST_F(Languages, ParsingFollowsTheFileFormat)
{
    table.parse(u"  Title=Velloq\n"
                u"Send   Send now  \r\n"
                u"Empty=\n"
                u"   \t \n"
                u"Spaced =value\n"
                u"Title=Again\n"
                u"=orphan\n");
    EXPECT_EQ(table.text_of(u"Title"), u"Again");
    EXPECT_EQ(table.text_of(u"Send"), u"Send now  ");
    EXPECT_TRUE(table.contains(u"Empty"));
    EXPECT_EQ(table.text_of(u"Empty"), u"");
    EXPECT_EQ(table.text_of(u"Spaced"), u"=value");
    EXPECT_EQ(table.text_of(u"Missing"), u"Missing");
    EXPECT_EQ(table.text_of(u"Missing", u"fallback"), u"fallback");
    EXPECT_EQ(table.text_of(u"title"), u"title");
}

TEST_F(Languages, FilesInUtf8AndUtf16LoadAlike)
{
    write("english.lng", "\xEF\xBB\xBFHello=Hello\n");
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : std::u16string(u"Hello=Привет\n")) {
        utf16.push_back(static_cast<char>(c & 0xFF));
        utf16.push_back(static_cast<char>(c >> 8));
    }
    write("russian.lng", utf16);
    ASSERT_TRUE(table.load_file(LanguageTable::path_of_language(u"english", program())));
    EXPECT_EQ(table.text_of(u"Hello"), u"Hello");
    ASSERT_TRUE(table.load_file(LanguageTable::path_of_language(u"russian", program())));
    EXPECT_EQ(table.text_of(u"Hello"), u"Привет");
    EXPECT_EQ(table.current_language(), u"russian");
    EXPECT_FALSE(table.load_file(LanguageTable::path_of_language(u"klingon", program())));
    EXPECT_EQ(table.text_of(u"Hello"), u"Привет");
}

TEST_F(Languages, ChoiceFallsBackFromTheRegistryToTheSystemToEnglishToAny)
{
    write("german.lng", "Hello=Hallo\n");
    write("english.lng", "Hello=Hello\n");
    write("zulu.lng", "Hello=Sawubona\n");
    ASSERT_TRUE(reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Language", u"deleted"));
    ASSERT_TRUE(table.load_language(u"Velloq", program()));
    EXPECT_EQ(table.text_of(u"Hello"), u"Hallo");
    std::filesystem::remove(folder / "german.lng");
    ASSERT_TRUE(table.load_language(u"Velloq", program()));
    EXPECT_EQ(table.text_of(u"Hello"), u"Hello");
    std::filesystem::remove(folder / "english.lng");
    ASSERT_TRUE(table.load_language(u"Velloq", program()));
    EXPECT_EQ(table.text_of(u"Hello"), u"Sawubona");
    EXPECT_FALSE(LanguageTable::more_than_one_language(program()));
    ASSERT_TRUE(reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Language", u"zulu"));
    write("english.lng", "Hello=Hello\n");
    ASSERT_TRUE(table.load_language(u"Velloq", program()));
    EXPECT_EQ(table.text_of(u"Hello"), u"Sawubona");
    EXPECT_TRUE(LanguageTable::more_than_one_language(program()));
}

TEST_F(Languages, NoLanguageAtAllIsLoggedAndShowsTheKeys)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    EXPECT_FALSE(table.load_language(u"Velloq", program()));
    EXPECT_EQ(table.text_of(u"Send"), u"Send");
    EXPECT_NE(test::read_utf16_file(device.log_file()).find(no_languages_message), std::u16string::npos);
}

TEST_F(Languages, SystemLanguageNameComesFromTheLocale)
{
    EXPECT_EQ(LanguageTable::system_language_name(), u"german");
    all.emplace("LC_ALL", "ru_RU.UTF-8");
    EXPECT_EQ(LanguageTable::system_language_name(), u"russian");
    all.emplace("LC_ALL", "C");
    EXPECT_EQ(LanguageTable::system_language_name(), u"");
}

TEST_F(Languages, LanguageMenuListsChecksAndSwitches)
{
    write("english.lng", "Hello=Hello\n");
    write("russian.lng", "Hello=Привет\n");
    Properties skin;
    ASSERT_TRUE(skin.language().load_file(LanguageTable::path_of_language(u"english", program())));
    std::vector<MenuEntry> entries;
    EXPECT_FALSE(language_menu_command(skin, u"Velloq", u"Language", entries, u"MenuElement", program()));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, u"Language#english");
    EXPECT_TRUE(entries[0].checked);
    EXPECT_EQ(entries[1].text, u"russian");
    EXPECT_FALSE(entries[1].checked);
    EXPECT_EQ(entries[2].name, u"Cancel");
    entries.clear();
    EXPECT_FALSE(language_menu_command(skin, u"Velloq", u"Language#english", entries, u"MenuElement", program()));
    EXPECT_FALSE(language_menu_command(skin, u"Velloq", u"Language#missing", entries, u"MenuElement", program()));
    EXPECT_TRUE(language_menu_command(skin, u"Velloq", u"Language#russian", entries, u"MenuElement", program()));
    EXPECT_EQ(skin.language().text_of(u"Hello"), u"Привет");
    std::u16string stored;
    EXPECT_TRUE(reg_get_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Language", stored));
    EXPECT_EQ(stored, u"russian");
    EXPECT_FALSE(language_menu_command(skin, u"Velloq", u"Other", entries, u"MenuElement", program()));
}

TEST_F(Languages, AFileNamesItsOwnLanguageElseItsFileNameIsShown)
{
    write("russian.lng", "LanguageName=Русский\nSend=Отправить\n");
    write("plain.lng", "Send=Send\n");
    write("blank.lng", "LanguageName=\n");
    EXPECT_EQ(LanguageTable::display_name(u"russian", program()), u"Русский");
    EXPECT_EQ(LanguageTable::display_name(u"plain", program()), u"plain");
    EXPECT_EQ(LanguageTable::display_name(u"blank", program()), u"blank");
    EXPECT_EQ(LanguageTable::display_name(u"missing", program()), u"missing");
}
