#include "ControllerFixture.h"
#include "support/ChildProcess.h"
#include "support/Wait.h"

#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "messaging/SmsManager.h"
#include "platform/Process.h"
#include "skin/TextEdit.h"

#include <csignal>
#include <cstdlib>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

class SmsLinks : public test::ControllerFixture {
protected:
    FormMain& main_form() { return *controller->chat_list(); }
};

}

TEST_F(SmsLinks, ALinkOpensTheNumbersChatWithTheBodyInTheReplyAtStartAndWhileRunning)
{
    deliver("+4915120000001", "hello");
    start(u"sms:+4915120000001?body=Hello%20again");
    ASSERT_TRUE(pump_until([&] { return started() && stack->top() == &main_form().chat_form(); }));
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000001");
    EXPECT_EQ(main_form().chat_form().edit().text(), u"Hello again");

    // The running program gets a later link from the single-instance hand-over; one the
    // program never wrote to makes a new chat. A text saying "message" is no broker's start.
    controller->on_other_instance_started(u"smsto:+4915120000009:a message for you");
    settle();
    ASSERT_EQ(stack->top(), &main_form().chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000009");
    EXPECT_EQ(main_form().chat_form().edit().text(), u"a message for you");
}

TEST_F(SmsLinks, ABrokenLinkIsLoggedAndOpensNothing)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    controller->on_other_instance_started(u"sms:$(reboot)?body=hi");
    settle();
    EXPECT_EQ(stack->top(), &main_form());
    EXPECT_NE(log_text().find(u"sms link not opened (no phone number): sms:$(reboot)?body=hi"), std::u16string::npos);
}

namespace {

// A desktop's notification service: python3-dbusmock's notification daemon on a bus of the
// test's own, which the program finds as its session bus.
class DesktopNotifications : public test::ControllerFixture {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        if (char const* before = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            m_address_before = before;
        std::string socket = (device.path() / "session_bus").string();
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
        m_bus = std::make_unique<test::ChildProcess>(std::vector<std::string> { "/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket });
        // The socket's file appears a moment before the bus listens on it.
        ASSERT_TRUE(test::wait_until([&] {
            return platform::read_program_output({ "gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                                     "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetId" },
                5000)
                .has_value();
        }));
        m_service = std::make_unique<test::ChildProcess>(std::vector<std::string> { "/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon" });
        ASSERT_TRUE(test::wait_until([&] { return mock("GetCalls").has_value(); }));
    }
    void TearDown() override
    {
        for (auto* process : { m_service.get(), m_bus.get() }) {
            if (process) {
                process->signal(SIGTERM);
                process->wait();
            }
        }
        if (m_address_before)
            setenv("DBUS_SESSION_BUS_ADDRESS", m_address_before->c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ControllerFixture::TearDown();
    }
    // A call of the mock's own interface, through the desktop's D-Bus tool; its printed answer.
    std::optional<std::string> mock(std::string const& method, std::vector<std::string> const& arguments = {})
    {
        std::vector<std::string> command { "gdbus", "call", "--session", "--dest", "org.freedesktop.Notifications", "--object-path",
            "/org/freedesktop/Notifications", "--method", "org.freedesktop.DBus.Mock." + method };
        command.insert(command.end(), arguments.begin(), arguments.end());
        return platform::read_program_output(command, 5000);
    }
    bool notified(std::string const& text)
    {
        auto calls = mock("GetCalls");
        return calls && calls->find("'Notify'") != std::string::npos && calls->find(text) != std::string::npos;
    }
    FormMain& main_form() { return *controller->chat_list(); }
    // The program on the desktop, not in front, gets a new message from +4915120000002.
    void alert_in_the_background()
    {
        deliver("+4915120000001", "hello");
        start_and_settle();
        controller->use_desktop_notifications(true);
        application->minimize();
        deliver("+4915120000002", "are you there?");
        ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    }

    std::unique_ptr<test::ChildProcess> m_bus;
    std::unique_ptr<test::ChildProcess> m_service;
    std::optional<std::string> m_address_before;
};

}

TEST_F(DesktopNotifications, ANewMessageInTheBackgroundIsNotifiedAndItsViewOpensTheChat)
{
    write_contact("anna.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\nTEL;TYPE=CELL:+49 151 20000002\r\nEND:VCARD\r\n");
    ASSERT_NO_FATAL_FAILURE(alert_in_the_background());
    ASSERT_TRUE(pump_until([&] { return notified("'are you there?'"); }, 5000ms));
    auto calls = mock("GetCalls");
    EXPECT_NE(calls->find("<'Berg Anna'>"), std::string::npos) << *calls;
    EXPECT_NE(calls->find("['default', 'View', 'view', 'View']"), std::string::npos) << *calls;

    ASSERT_TRUE(mock("EmitSignal", { "org.freedesktop.Notifications", "ActionInvoked", "us", "[<uint32 1>, <'view'>]" }));
    ASSERT_TRUE(pump_until([&] { return stack->top() == &main_form().chat_form(); }, 5000ms));
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000002");

    // In front, the chat list shows a new message itself: no notification. The poll that brings
    // the message decides in the same step, and a notification is logged as it is sent.
    auto sent_before = device.log_lines(u"desktop notification: ").size();
    deliver("+4915120000003", "while you look");
    ASSERT_TRUE(pump_until([&] { return controller->model()->find_chat(u"0000003") != nullptr; }, 5000ms));
    EXPECT_EQ(device.log_lines(u"desktop notification: ").size(), sent_before);
    EXPECT_FALSE(notified("while you look"));
}

TEST_F(DesktopNotifications, WithoutAServiceTheAlertStillComes)
{
    m_service->signal(SIGTERM);
    m_service->wait();
    m_service.reset();
    ASSERT_NO_FATAL_FAILURE(alert_in_the_background());
    EXPECT_TRUE(pump_until([&] { return log_text().find(u"desktop notification not shown: ") != std::u16string::npos; }, 5000ms));
}

TEST_F(SmsLinks, ALinkKeepsTheDraftTheUserWasWritingAndAddsItsTextBelow)
{
    deliver("+4915120000001", "hello");
    {
        SmsManager manager;
        ASSERT_TRUE(manager.save_draft({ {}, u"+4915120000001" }, u"My own words"));
    }
    start(u"sms:+4915120000001?body=From%20a%20web%20page");
    ASSERT_TRUE(pump_until([&] { return started() && stack->top() == &main_form().chat_form(); }));
    EXPECT_EQ(main_form().chat_form().edit().text(), u"My own words\nFrom a web page");
    // The chat open and being written in: another link adds below again.
    controller->on_other_instance_started(u"sms:+4915120000001?body=And%20more");
    settle();
    EXPECT_EQ(main_form().chat_form().edit().text(), u"My own words\nFrom a web page\nAnd more");
    main_form().chat_form().close(false);
    settle();
    SmsManager manager;
    ASSERT_EQ(manager.get_length(FolderKind::Drafts), 1);
    MessageRecord draft;
    ASSERT_TRUE(manager.read_sms(manager.get_id(FolderKind::Drafts, 0), draft));
    EXPECT_EQ(draft.text, u"My own words\nFrom a web page\nAnd more");
}

TEST_F(DesktopNotifications, AMessagesMarkupControlsAndNoncharactersNeverReachTheServiceAsSuch)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    controller->use_desktop_notifications(true);
    application->minimize();
    deliver("+4915120000002", "<b>x</b> <a href=\"file:///etc/passwd\">go</a> \u202Etxt.exe\uFFFF & more");
    ASSERT_TRUE(pump_until([&] { return notified("&lt;b&gt;x&lt;/b&gt; &lt;a href=\"file:///etc/passwd\"&gt;go&lt;/a&gt; txt.exe\uFFFD &amp; more"); },
        5000ms))
        << mock("GetCalls").value_or("");
}
