#include "shell/Paths.h"

#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace velloq;

namespace {

std::u16string program_folder()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().u16string();
}


}

TEST(Paths, ProgramMacrosNameTheRunningProgram)
{
    test::TempDevice device;
    auto self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(get_app_path(), self.u16string());
    EXPECT_EQ(expand_path(u"%app_full_name%"), self.u16string());
    EXPECT_EQ(expand_path(u"%app_path%/skins/bin/"), program_folder() + u"/skins/bin/");
    EXPECT_EQ(expand_path(u"%app_name%.txt"), self.filename().u16string() + u".txt");
}

TEST(Paths, BothSeparatorsBecomeSlashes)
{
    test::TempDevice device;
    EXPECT_EQ(expand_path(u"%app_path%\\skins\\bin\\default.skin"), program_folder() + u"/skins/bin/default.skin");
    EXPECT_EQ(expand_path(u"a\\b/c"), u"a/b/c");
}

TEST(Paths, OnlyAMacroAtTheVeryStartIsReplaced)
{
    test::TempDevice device;
    EXPECT_EQ(expand_path(u"x%app_path%/y"), u"x%app_path%/y");
    EXPECT_EQ(expand_path(u"%app_path%%app_name%"), program_folder() + u"%app_name%");
    EXPECT_EQ(expand_path(u"%APP_PATH%/y"), u"%APP_PATH%/y");
    EXPECT_EQ(expand_path(u"%app_path"), u"%app_path");
}

TEST(Paths, TempLiesInTheDeviceFolder)
{
    test::TempDevice device;
    auto temp = (device.path() / "Temp").u16string();
    EXPECT_EQ(expand_path(u"/Temp/velloq.txt"), temp + u"/velloq.txt");
    EXPECT_EQ(expand_path(u"\\Temp\\x"), temp + u"/x");
    EXPECT_EQ(expand_path(u"/Temp"), temp);
    EXPECT_EQ(expand_path(u"/Temporary/x"), u"/Temporary/x");
    EXPECT_TRUE(std::filesystem::is_directory(device.path() / "Temp"));
}

TEST(Paths, SpecialFoldersFollowTheXdgFolders)
{
    test::TempDevice device;
    test::ScopedEnvironment data("XDG_DATA_HOME", "/data");
    test::ScopedEnvironment config("XDG_CONFIG_HOME", "/config");
    EXPECT_EQ(expand_path(u"%programs%/Velloq.desktop"), u"/data/applications/Velloq.desktop");
    EXPECT_EQ(expand_path(u"%start_menu%"), u"/data/applications");
    EXPECT_EQ(expand_path(u"%startup%/x"), u"/config/autostart/x");
    EXPECT_EQ(expand_path(u"%program_files%/Velloq"), u"/data/velloq-programs/Velloq");
    EXPECT_EQ(expand_path(u"%windows%/tmail.exe"), program_folder() + u"/tmail.exe");
}

TEST(Paths, DocumentsComeFromTheUserDirsFile)
{
    test::TempDevice device;
    auto config = device.path() / "config";
    std::filesystem::create_directories(config);
    std::ofstream(config / "user-dirs.dirs") << "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n";
    test::ScopedEnvironment config_home("XDG_CONFIG_HOME", config.c_str());
    test::ScopedEnvironment home("HOME", "/home/someone");
    EXPECT_EQ(expand_path(u"%my_documents%/a"), u"/home/someone/Papers/a");
    std::filesystem::remove(config / "user-dirs.dirs");
    EXPECT_EQ(expand_path(u"%my_documents%"), u"/home/someone/Documents");
}

TEST(Paths, ProgramLocationDropsATrailingSeparator)
{
    auto location = program_location_from(u"/opt/velloq//velloq");
    EXPECT_EQ(location.folder, u"/opt/velloq");
    EXPECT_EQ(location.file_name, u"velloq");
    auto bare = program_location_from(u"velloq");
    EXPECT_EQ(bare.folder, u"");
    EXPECT_EQ(bare.file_name, u"velloq");
}

TEST(Paths, CreateDirectoriesGoesOutermostFirstAndLogsEveryAttempt)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto root = device.path().u16string();
    create_directories(root + u"/a/b/c/");
    EXPECT_TRUE(std::filesystem::is_directory(device.path() / "a" / "b" / "c"));

    std::u16string text = test::read_utf16_file(device.log_file());
    std::u16string expected = u"CreateDirectoryW {} result=0\n";
    // Every existing folder above the device folder is tried too, and yields 0.
    auto position = text.find(u"CreateDirectoryW {" + root + u"} result=0\n");
    ASSERT_NE(position, std::u16string::npos) << to_utf8(text);
    EXPECT_TRUE(text.starts_with(expected)) << to_utf8(text);
    EXPECT_TRUE(text.ends_with(u"CreateDirectoryW {" + root + u"/a} result=1\n"
                               u"CreateDirectoryW {" + root + u"/a/b} result=1\n"
                               u"CreateDirectoryW {" + root + u"/a/b/c} result=1\n")) << to_utf8(text);
}

TEST(Paths, CreateDirectoriesOfAnEmptyPathDoesNothing)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    create_directories(u"");
    EXPECT_FALSE(std::filesystem::exists(device.log_file()));
}

TEST(Paths, FindInstalledProgramFile)
{
    test::TempDevice device;
    auto folder = device.path() / "programs" / "Pomelix";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Pomelix") << "program";
    std::u16string found;
    EXPECT_FALSE(find_installed_program_file(u"Pomelix", u"Pomelix", found));
    EXPECT_TRUE(found.empty());

    ASSERT_TRUE(reg_set_string(u"HKEY_LOCAL_MACHINE\\Software\\Apps\\Pomelix", u"InstallDir", folder.u16string()));
    EXPECT_TRUE(find_installed_program_file(u"Pomelix", u"Pomelix", found));
    EXPECT_EQ(found, (folder / "Pomelix").u16string());
    EXPECT_FALSE(find_installed_program_file(u"Pomelix", u"Other", found));
}
