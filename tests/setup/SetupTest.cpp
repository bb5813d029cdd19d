#include "setup/Setup.h"

#include "platform/Process.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "shell/StateNotification.h"
#include "support/ChildProcess.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace velloq;
namespace fs = std::filesystem;

namespace {

constexpr char16_t const* apps_key = u"HKEY_LOCAL_MACHINE\\Software\\Apps\\Ketra Velloq";
constexpr char16_t const* velloq_key = u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq";
constexpr char16_t const* inbox_settings = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Inbox\\Settings";

// The hooks called as the installer calls them, on a fresh device whose programs menu is a
// folder of the test's own.
class SetupHooks : public testing::Test {
protected:
    void SetUp() override
    {
        data = device.path() / "data";
        if (char const* previous = std::getenv("XDG_DATA_HOME"))
            previous_data = previous;
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        menu = data / "applications";
        fs::create_directories(menu);
        folder = device.path() / "installed";
        fs::create_directories(folder);
        ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
        std::ofstream(menu / "Velloq.desktop") << "[Desktop Entry]\nType=Application\nName=Velloq\nExec=velloq\n";
    }
    void TearDown() override
    {
        if (previous_data)
            setenv("XDG_DATA_HOME", previous_data->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }
    void write_language(std::string const& text) { std::ofstream(folder / "chinese.lng") << text; }
    std::u16string wide_folder() const { return to_utf16(folder.string()); }
    std::u16string setup_log() const { return test::read_utf16_file(device.path() / "Temp" / "libvelloq-setup.so.txt"); }
    bool logged(std::u16string const& line) const { return setup_log().find(line) != std::u16string::npos; }
    // What the program leaves at run time.
    void leave_run_time_traces()
    {
        ASSERT_TRUE(set_app_notification(u"Ketra.Velloq.message", u"\"/bin/true\" message"));
        ASSERT_TRUE(reg_set_int(velloq_key, u"Unread", 3));
        ASSERT_TRUE(reg_set_int(inbox_settings, u"SMSNoSentMsg", 1));
        // The cache of earlier versions in the program folder (an empty chat cache: its version
        // alone), and today's beside the store.
        std::ofstream(folder / "cache", std::ios::binary) << std::string("\x01\x00\x00\x00", 4);
        std::ofstream(device.path() / "cache") << "cache";
        std::ofstream(device.path() / "cache.part") << "cache";
    }
    void expect_run_time_traces_gone()
    {
        int32_t value = 0;
        EXPECT_FALSE(reg_get_int(velloq_key, u"Unread", value));
        EXPECT_FALSE(reg_get_int(inbox_settings, u"SMSNoSentMsg", value));
        EXPECT_FALSE(fs::exists(folder / "cache"));
        EXPECT_FALSE(fs::exists(device.path() / "cache"));
        EXPECT_FALSE(fs::exists(device.path() / "cache.part"));
        EXPECT_TRUE(logged(u"stop_app_notification Ketra.Velloq.message"));
    }

    test::TempDevice device;
    std::optional<std::string> previous_data;
    fs::path data;
    fs::path menu;
    fs::path folder;
};

TEST_F(SetupHooks, EveryHookAnswersZeroAndTheShortcutKeepsItsNameWithoutThePartnerMarker)
{
    EXPECT_EQ(Install_Init(nullptr, wide_folder().c_str()), 0);
    EXPECT_EQ(Install_Exit(nullptr, wide_folder().c_str()), 0);
    EXPECT_TRUE(logged(u"chinese.lng not found\n"));
    write_language("skin_ProgramName=Mavrel SMS\n");
    EXPECT_EQ(Install_Exit(nullptr, wide_folder().c_str()), 0);
    EXPECT_TRUE(logged(u"PORTAL is {PORTAL}\n"));
    write_language("PORTAL=OTHER\nskin_ProgramName=Mavrel SMS\n");
    EXPECT_EQ(Install_Exit(nullptr, wide_folder().c_str()), 0);
    EXPECT_TRUE(logged(u"PORTAL is {OTHER}\n"));
    EXPECT_TRUE(fs::exists(menu / "Velloq.desktop"));
    EXPECT_FALSE(fs::exists(menu / "Mavrel SMS.desktop"));
    EXPECT_EQ(Uninstall_Init(nullptr, wide_folder().c_str()), 0);
    EXPECT_EQ(Uninstall_Exit(nullptr, wide_folder().c_str()), 0);
    EXPECT_TRUE(fs::exists(menu / "Velloq.desktop"));
}

TEST_F(SetupHooks, APartnerEditionNamesTheShortcutAndRemovalMovesItBack)
{
    write_language("PORTAL=TAVRIN\nskin_ProgramName=Mavrel SMS\n");
    EXPECT_EQ(Install_Exit(nullptr, wide_folder().c_str()), 0);
    EXPECT_FALSE(fs::exists(menu / "Velloq.desktop"));
    EXPECT_TRUE(fs::exists(menu / "Mavrel SMS.desktop"));
    // The menu shows the entry's Name=, so it follows the file's new name.
    EXPECT_NE(test::read_file(menu / "Mavrel SMS.desktop").find("\nName=Mavrel SMS\n"), std::string::npos);
    EXPECT_NE(test::read_file(menu / "Mavrel SMS.desktop").find("\nExec=velloq\n"), std::string::npos);
    std::u16string from = to_utf16((menu / "Velloq.desktop").string());
    std::u16string to = to_utf16((menu / "Mavrel SMS.desktop").string());
    EXPECT_TRUE(logged(u"PORTAL is {TAVRIN}\n"));
    EXPECT_TRUE(logged(u"isrc={" + from + u"} idst={" + to + u"}\n"));
    EXPECT_EQ(Uninstall_Init(nullptr, wide_folder().c_str()), 0);
    EXPECT_TRUE(fs::exists(menu / "Velloq.desktop"));
    EXPECT_FALSE(fs::exists(menu / "Mavrel SMS.desktop"));
    EXPECT_NE(test::read_file(menu / "Velloq.desktop").find("\nName=Velloq\n"), std::string::npos);
    EXPECT_TRUE(logged(u"isrc={" + to + u"} idst={" + from + u"}\n"));
}

TEST_F(SetupHooks, AFailedMoveIsLoggedAndANameThatIsAPathMovesNothing)
{
    write_language("PORTAL=TAVRIN\nskin_ProgramName=../../escape\n");
    EXPECT_EQ(Install_Exit(nullptr, wide_folder().c_str()), 0);
    EXPECT_TRUE(fs::exists(menu / "Velloq.desktop"));
    EXPECT_TRUE(logged(u"Move failed from {"));
    fs::remove(menu / "Velloq.desktop");
    write_language("PORTAL=TAVRIN\nskin_ProgramName=Mavrel SMS\n");
    EXPECT_EQ(Install_Exit(nullptr, wide_folder().c_str()), 0);
    EXPECT_FALSE(fs::exists(menu / "Mavrel SMS.desktop"));
}

TEST_F(SetupHooks, RemovalCleansWhatTheProgramLeft)
{
    leave_run_time_traces();
    EXPECT_EQ(Uninstall_Init(nullptr, wide_folder().c_str()), 0);
    expect_run_time_traces_gone();
    EXPECT_TRUE(logged(u"stop_app_notification result=0\n"));
}

TEST_F(SetupHooks, RemovalWithoutAFolderStillCleansThroughInstallDir)
{
    leave_run_time_traces();
    ASSERT_TRUE(reg_set_string(apps_key, u"InstallDir", wide_folder()));
    EXPECT_EQ(Uninstall_Init(nullptr, nullptr), 0);
    EXPECT_TRUE(logged(u"Dir is NULL\n"));
    expect_run_time_traces_gone();
}

TEST_F(SetupHooks, RemovalWhereTheProgramNeverRanGoesPastEveryMissingItem)
{
    EXPECT_EQ(Uninstall_Init(nullptr, wide_folder().c_str()), 0);
    EXPECT_TRUE(logged(u"stop_app_notification Ketra.Velloq.message"));
    EXPECT_TRUE(fs::exists(menu / "Velloq.desktop"));
}

class Installer : public testing::Test {
protected:
    void SetUp() override
    {
        environment = test::headless_environment(device.path().string());
        environment.push_back("XDG_DATA_HOME=" + (device.path() / "data").string());
        environment.push_back("XDG_CONFIG_HOME=" + (device.path() / "config").string());
        // The user's systemd, as a stand-in that notes what it was asked.
        fs::create_directories(device.path() / "bin");
        std::ofstream(device.path() / "bin" / "systemctl") << "#!/bin/sh\necho \"$*\" >> '" << systemctl_log().string() << "'\n";
        fs::permissions(device.path() / "bin" / "systemctl", fs::perms::owner_all);
        // The desktop's xdg-mime, as a stand-in that notes what it was asked and answers as told.
        std::ofstream(device.path() / "bin" / "xdg-mime") << "#!/bin/sh\necho \"$*\" >> '" << xdg_mime_log().string() << "'\nexit $(cat '"
                                                          << (device.path() / "xdg-mime-answer").string() << "' 2>/dev/null || echo 0)\n";
        fs::permissions(device.path() / "bin" / "xdg-mime", fs::perms::owner_all);
        environment.push_back("PATH=" + (device.path() / "bin").string() + ":" + std::getenv("PATH"));
        ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    }
    fs::path systemctl_log() const { return device.path() / "systemctl.txt"; }
    fs::path xdg_mime_log() const { return device.path() / "xdg-mime.txt"; }
    fs::path unit(char const* name = "velloq-modem.service") const { return device.path() / "config" / "systemd" / "user" / name; }
    int run(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), VELLOQ_PROGRAM_DIR "/velloq-install");
        test::ChildProcess tool(arguments, environment);
        return tool.wait().value_or(-100);
    }

    test::TempDevice device;
    std::vector<std::string> environment;
};

TEST_F(Installer, InstallRunAndRemoveLeaveNothingBehind)
{
    fs::path target = device.path() / "programs" / "Velloq";
    ASSERT_EQ(run({ "--to", target.string() }), 0);
    fs::path shortcut = device.path() / "data" / "applications" / "Velloq.desktop";
    ASSERT_TRUE(fs::exists(shortcut));
    std::string entry = test::read_file(shortcut);
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("Exec=" + (target / "velloq").string() + " %u\n"), std::string::npos);
    std::u16string install_dir;
    EXPECT_TRUE(reg_get_string(apps_key, u"InstallDir", install_dir));
    EXPECT_EQ(install_dir, to_utf16(target.string()));
    for (char const* file : { "velloq", "velloq-modem", "velloq-contacts", "libvelloq-setup.so", "english.lng", "skins/bin/default.skin", "help/english.html" })
        EXPECT_TRUE(fs::exists(target / file)) << file;
    // The modem and contacts services start now and at every login.
    for (char const* service : { "velloq-modem", "velloq-contacts" }) {
        std::string unit_text = test::read_file(unit((std::string(service) + ".service").c_str()));
        EXPECT_NE(unit_text.find("ExecStart=\"" + (target / service).string() + "\"\n"), std::string::npos) << unit_text;
        EXPECT_NE(unit_text.find("Environment=\"VELLOQ_DEVICE=" + device.path().string() + "\"\n"), std::string::npos) << unit_text;
        EXPECT_NE(unit_text.find("WantedBy=default.target\n"), std::string::npos);
    }
    EXPECT_EQ(test::read_file(systemctl_log()),
        "--user daemon-reload\n--user enable --now velloq-modem.service\n--user daemon-reload\n--user enable --now velloq-contacts.service\n");

    // The installed program runs, registers itself and writes its cache beside the store.
    test::ChildProcess({ VELLOQ_PROGRAM_DIR "/velloq-sms", "deliver", "--from", "+4915112345678", "hello" }, environment).wait();
    {
        test::ChildProcess velloq({ (target / "velloq").string() }, environment);
        auto log_file = device.path() / "Temp" / "velloq.txt";
        ASSERT_TRUE(test::wait_until([&] { return test::read_utf16_file(log_file).find(u"start time2:") != std::u16string::npos; }));
        velloq.signal(SIGTERM);
        EXPECT_EQ(velloq.wait(), 0);
    }
    ASSERT_TRUE(fs::exists(device.path() / "cache"));
    EXPECT_FALSE(fs::exists(target / "cache"));
    int32_t value = 0;
    ASSERT_TRUE(reg_get_int(inbox_settings, u"SMSNoSentMsg", value));

    ASSERT_EQ(run({ "--remove" }), 0);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(shortcut));
    EXPECT_FALSE(fs::exists(unit()));
    EXPECT_FALSE(fs::exists(unit("velloq-contacts.service")));
    EXPECT_NE(test::read_file(systemctl_log()).find("--user disable --now velloq-modem.service\n--user daemon-reload\n"), std::string::npos);
    EXPECT_NE(test::read_file(systemctl_log()).find("--user disable --now velloq-contacts.service\n--user daemon-reload\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(device.path() / "cache"));
    EXPECT_FALSE(reg_get_string(apps_key, u"InstallDir", install_dir));
    EXPECT_FALSE(reg_get_int(velloq_key, u"Unread", value));
    EXPECT_FALSE(reg_get_int(inbox_settings, u"SMSNoSentMsg", value));
    EXPECT_NE(test::read_utf16_file(device.path() / "Temp" / "libvelloq-setup.so.txt").find(u"stop_app_notification result=0\n"), std::u16string::npos);
    // The broker no longer starts the program on a new message.
    test::ChildProcess({ VELLOQ_PROGRAM_DIR "/velloq-sms", "deliver", "--from", "+4915112345678", "again" }, environment).wait();
    EXPECT_FALSE(test::wait_until([&] { return fs::exists(target); }, std::chrono::milliseconds(500)));
}

TEST_F(Installer, TheServiceUnitNamesAnyPathSoThatSystemdTakesItAsItIs)
{
    fs::path target = device.path() / "Apps 100% \"mine\" & Bob's $HOME";
    environment.push_back("VELLOQ_DEVICE=" + (device.path() / "phone $1 50%").string());
    ASSERT_EQ(run({ "--to", target.string() }), 0);
    std::string unit_text = test::read_file(unit());
    // systemd takes no quote in a program's name: env(1) starts it.
    EXPECT_NE(unit_text.find("ExecStart=/usr/bin/env \"" + device.path().string() + "/Apps 100%% \\\"mine\\\" & Bob's $$HOME/velloq-modem\"\n"), std::string::npos) << unit_text;
    EXPECT_NE(unit_text.find("Environment=\"VELLOQ_DEVICE=" + device.path().string() + "/phone $1 50%%\"\n"), std::string::npos) << unit_text;
    EXPECT_NE(unit_text.find("/Apps%%20100%%25%%20%%22mine%%22%%20%%26%%20Bob%%27s%%20%%24HOME/help/english.html\n"), std::string::npos) << unit_text;
    for (char const* line : { "Restart=on-failure\n", "RestartPreventExitStatus=3\n", "StartLimitBurst=5\n" })
        EXPECT_NE(unit_text.find(line), std::string::npos) << line;
    // systemd's own check, with the user's manager: no warning, no error.
    fs::create_directories(device.path() / "runtime");
    fs::permissions(device.path() / "runtime", fs::perms::owner_all);
    auto verdict = platform::read_program_output({ "/bin/sh", "-c", "XDG_RUNTIME_DIR=\"$1\" systemd-analyze verify --user \"$0\" 2>&1",
                                                    unit().string(), (device.path() / "runtime").string() },
        60'000);
    ASSERT_TRUE(verdict.has_value()) << "systemd-analyze refused the unit";
    EXPECT_EQ(*verdict, "");
    environment.push_back("VELLOQ_DEVICE=" + device.path().string() + "/line\nbreak");
    EXPECT_NE(run({ "--to", (device.path() / "other").string() }), 0);
}

TEST_F(Installer, TheDesktopGetsTheIconTheDescriptionAndTheLinkHandlerAndLosesThemAgain)
{
    fs::path target = device.path() / "programs" / "Velloq";
    ASSERT_EQ(run({ "--to", target.string(), "--no-service" }), 0);
    std::string entry = test::read_file(device.path() / "data" / "applications" / "Velloq.desktop");
    for (char const* line : { "Icon=velloq\n", "Categories=Network;InstantMessaging;\n", "MimeType=x-scheme-handler/sms;x-scheme-handler/smsto;\n", "Keywords=SMS;",
             "X-Purism-FormFactor=Workstation;Mobile;\n" })
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    fs::path icons = device.path() / "data" / "icons" / "hicolor";
    for (char const* icon : { "48x48/apps/velloq.png", "64x64/apps/velloq.png", "128x128/apps/velloq.png", "256x256/apps/velloq.png", "scalable/apps/velloq.svg" })
        EXPECT_TRUE(fs::exists(icons / icon)) << icon;
    fs::path metainfo = device.path() / "data" / "metainfo" / "com.ketra.Velloq.metainfo.xml";
    EXPECT_NE(test::read_file(metainfo).find("<launchable type=\"desktop-id\">Velloq.desktop</launchable>"), std::string::npos);
    // The desktop's own checks: the software centres and phone shells read both files.
    auto entry_verdict = platform::read_program_output({ "/bin/sh", "-c", "desktop-file-validate \"$0\" 2>&1; echo exit $?",
                                                         (device.path() / "data" / "applications" / "Velloq.desktop").string() },
        60'000);
    EXPECT_EQ(entry_verdict.value_or("not run"), "exit 0\n");
    auto metainfo_verdict = platform::read_program_output({ "/bin/sh", "-c", "appstreamcli validate --no-net \"$0\" >/dev/null 2>&1; echo exit $?", metainfo.string() }, 60'000);
    EXPECT_EQ(metainfo_verdict.value_or("not run"), "exit 0\n");
    EXPECT_EQ(test::read_file(xdg_mime_log()), "default Velloq.desktop x-scheme-handler/sms x-scheme-handler/smsto\n");

    // Removal takes Velloq out of the user's list and leaves the other programs' lines.
    fs::path mimeapps = device.path() / "config" / "mimeapps.list";
    fs::create_directories(mimeapps.parent_path());
    std::ofstream(mimeapps) << "[Default Applications]\nx-scheme-handler/sms=Velloq.desktop;\ntext/html=browser.desktop;\n"
                               "[Added Associations]\nx-scheme-handler/smsto=other.desktop;Velloq.desktop;\n";
    ASSERT_EQ(run({ "--remove" }), 0);
    EXPECT_EQ(test::read_file(mimeapps), "[Default Applications]\ntext/html=browser.desktop;\n[Added Associations]\nx-scheme-handler/smsto=other.desktop;\n");
    EXPECT_FALSE(fs::exists(icons / "48x48/apps/velloq.png"));
    EXPECT_FALSE(fs::exists(metainfo));

    // A folder whose name needs quoting in the entry gets it.
    fs::path spaced = device.path() / "My Programs" / "Velloq";
    ASSERT_EQ(run({ "--to", spaced.string(), "--no-service" }), 0);
    EXPECT_NE(test::read_file(device.path() / "data" / "applications" / "Velloq.desktop").find("Exec=\"" + (spaced / "velloq").string() + "\" %u\n"),
        std::string::npos);
    ASSERT_EQ(run({ "--remove" }), 0);

    // Where xdg-mime fails, the list is written as it would have written it.
    std::ofstream(device.path() / "xdg-mime-answer") << "1\n";
    ASSERT_EQ(run({ "--to", target.string(), "--no-service" }), 0);
    EXPECT_EQ(test::read_file(mimeapps), "[Default Applications]\nx-scheme-handler/sms=Velloq.desktop;\nx-scheme-handler/smsto=Velloq.desktop;\n"
                                         "text/html=browser.desktop;\n[Added Associations]\nx-scheme-handler/smsto=other.desktop;\n");
    ASSERT_EQ(run({ "--remove" }), 0);
}

TEST_F(Installer, WithoutTheServiceNoUnitIsWrittenAndSystemdIsNotAsked)
{
    fs::path target = device.path() / "programs" / "Velloq";
    ASSERT_EQ(run({ "--to", target.string(), "--no-service" }), 0);
    EXPECT_TRUE(fs::exists(target / "velloq-modem"));
    EXPECT_FALSE(fs::exists(unit()));
    EXPECT_FALSE(fs::exists(systemctl_log()));
    ASSERT_EQ(run({ "--remove" }), 0);
    EXPECT_FALSE(fs::exists(systemctl_log()));
}

TEST_F(Installer, BadArgumentsAndAMissingLibraryAreClearErrors)
{
    EXPECT_EQ(run({ "--to" }), 2);
    EXPECT_EQ(run({ "--bogus" }), 2);
    EXPECT_EQ(run({ "--remove" }), 1);
    fs::path lonely = device.path() / "lonely";
    fs::create_directories(lonely);
    fs::copy_file(VELLOQ_PROGRAM_DIR "/velloq-install", lonely / "velloq-install");
    test::ChildProcess tool({ (lonely / "velloq-install").string(), "--to", (device.path() / "x").string() }, environment);
    EXPECT_EQ(tool.wait(), 1);
}

TEST_F(Installer, ARemovalNeverDeletesFilesThatAreNotVelloqs)
{
    fs::path target = device.path() / "shared";
    ASSERT_EQ(run({ "--to", target.string() }), 0);
    std::ofstream(target / "precious.txt") << "mine";
    // A language and a skin the user added beside the shipped ones.
    std::ofstream(target / "klingon.lng") << "skin_ProgramName=Velloq\n";
    std::ofstream(target / "skins" / "bin" / "mine.skin") << "skin";
    // A file of the user's named like the cache earlier versions kept there.
    std::ofstream(target / "cache") << "my own cache of thoughts";
    // Velloq is removed; what stays is the user's: a warning, and success.
    EXPECT_EQ(run({ "--remove" }), 0);
    EXPECT_TRUE(fs::exists(target / "cache"));
    for (char const* kept : { "precious.txt", "klingon.lng", "skins/bin/mine.skin" })
        EXPECT_TRUE(fs::exists(target / kept)) << kept;
    for (char const* gone : { "velloq", "english.lng", "skins/bin/default.skin", "help/english.html", "help", "velloq-install.manifest" })
        EXPECT_FALSE(fs::exists(target / gone)) << gone;
}

TEST_F(Installer, NothingIsWrittenOrDeletedThroughASymbolicLink)
{
    // The user's own files, and links to them where the installer would write.
    fs::path documents = device.path() / "Documents";
    fs::create_directories(documents);
    std::ofstream(documents / "english.html") << "my notes";
    std::ofstream(documents / "entry.desktop") << "[Desktop Entry]\nName=Mine\n";
    std::ofstream(documents / "icon.png") << "my picture";
    std::ofstream(documents / "mimeapps.list") << "[Default Applications]\ntext/html=browser.desktop;\n";
    fs::path applications = device.path() / "data" / "applications";
    fs::create_directories(applications);
    fs::create_symlink(documents / "entry.desktop", applications / "Velloq.desktop");
    fs::path icon = device.path() / "data" / "icons" / "hicolor" / "48x48" / "apps" / "velloq.png";
    fs::create_directories(icon.parent_path());
    fs::create_symlink(documents / "icon.png", icon);
    fs::create_directories(device.path() / "config");
    fs::create_symlink(documents / "mimeapps.list", device.path() / "config" / "mimeapps.list");
    std::ofstream(device.path() / "xdg-mime-answer") << "1\n";
    fs::path target = device.path() / "programs" / "Velloq";
    ASSERT_EQ(run({ "--to", target.string(), "--no-service" }), 0);
    EXPECT_EQ(test::read_file(documents / "entry.desktop"), "[Desktop Entry]\nName=Mine\n");
    EXPECT_EQ(test::read_file(documents / "icon.png"), "my picture");
    EXPECT_TRUE(fs::is_symlink(applications / "Velloq.desktop"));
    // The list is the user's, kept where it lies: edited there, and still a link.
    EXPECT_TRUE(fs::is_symlink(device.path() / "config" / "mimeapps.list"));
    EXPECT_NE(test::read_file(documents / "mimeapps.list").find("x-scheme-handler/sms=Velloq.desktop;"), std::string::npos);
    ASSERT_EQ(run({ "--remove" }), 0);
    EXPECT_EQ(test::read_file(documents / "entry.desktop"), "[Desktop Entry]\nName=Mine\n");
    EXPECT_TRUE(fs::exists(documents / "icon.png"));
    EXPECT_TRUE(fs::is_symlink(device.path() / "config" / "mimeapps.list"));
    EXPECT_EQ(test::read_file(documents / "mimeapps.list"), "[Default Applications]\ntext/html=browser.desktop;\n");

    // An installation folder whose help is a link to the user's documents: nothing goes there,
    // the installation says it could not be made whole, and a removal deletes nothing there.
    fs::create_directories(target);
    fs::create_symlink(documents, target / "help");
    EXPECT_EQ(run({ "--to", target.string(), "--no-service" }), 1);
    EXPECT_EQ(test::read_file(documents / "english.html"), "my notes");
    EXPECT_EQ(run({ "--remove" }), 0);
    EXPECT_EQ(test::read_file(documents / "english.html"), "my notes");
    EXPECT_TRUE(fs::is_symlink(target / "help"));
}

}
