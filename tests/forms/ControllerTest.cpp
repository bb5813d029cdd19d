#include "ControllerFixture.h"

#include "forms/Avatar.h"
#include "forms/FormChat.h"
#include "platform/Utf.h"
#include "skin/BasicElements.h"
#include "skin/TextElement.h"

using namespace velloq;
using namespace std::chrono_literals;

namespace {

class Controller : public test::ControllerFixture {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        write_contact("berta.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vogel;Berta;;;\r\nTEL;TYPE=CELL:+49 151 10000002\r\nEND:VCARD\r\n");
        deliver("+4915110000001", "first");
        deliver("+4915110000002", "second");
        deliver("+4915110000003", "third");
    }
    void start_and_wait(std::u16string const& command_line = {})
    {
        start(command_line);
        ASSERT_TRUE(pump_until([&] { return started(); }));
    }
    bool logged(std::u16string const& line) { return log_text().find(line) != std::u16string::npos; }
};

TEST_F(Controller, StartShowsTheSplashThenTheChatsNewestFirstWithTheirNames)
{
    start();
    ASSERT_NE(controller->splash_form(), nullptr);
    EXPECT_EQ(stack->top(), controller->splash_form());
    EXPECT_EQ(controller->progress()->value(), 0.0);
    EXPECT_EQ(controller->model(), nullptr);

    ASSERT_TRUE(pump_until([&] { return started(); }));
    EXPECT_EQ(controller->progress()->value(), 1.0);
    EXPECT_FALSE(stack->contains(*controller->splash_form()));
    EXPECT_EQ(stack->size(), 1u);
    ASSERT_EQ(controller->chat_list()->list().count(), 3);
    pump_for(50ms);
    EXPECT_EQ(item_text(0, u"title"), u"+4915110000003");
    EXPECT_EQ(item_text(1, u"title"), u"Vogel Berta");
    // The phone's type is a word; the avatar shows the initials, a bare number a person.
    EXPECT_EQ(item_text(1, u"type"), u"mobile");
    EXPECT_TRUE(item_shows(1, u"type"));
    EXPECT_FALSE(item_shows(0, u"type"));
    EXPECT_EQ(item_text(1, u"initials"), u"VB");
    EXPECT_FALSE(item_shows(1, u"person"));
    EXPECT_TRUE(item_shows(0, u"person"));
    EXPECT_FALSE(item_shows(0, u"initials"));
    EXPECT_EQ(item_text(2, u"body"), u"first");
    EXPECT_EQ(item_text(2, u"unread"), u"(1)");
    EXPECT_TRUE(item_shows(2, u"unread"));
    EXPECT_TRUE(item_shows(2, u"unread_exists"));
    EXPECT_FALSE(item_shows(2, u"no_unread"));
    for (std::u16string line : { u"update_chats time:", u"load_contacts time:", u"start time1:", u"start time2:" })
        EXPECT_TRUE(logged(line)) << to_utf8(line);
}

TEST_F(Controller, ADeliveredMessageMovesItsChatToTheTopWithoutAnAlertWhileTheUserLooks)
{
    start_and_wait();
    ASSERT_TRUE(pump_until([&] { return controller->model()->find_chat(u"0000001") != nullptr; }));
    deliver("+49 151 10000001", "again");
    ASSERT_TRUE(pump_until([&] { return item_text(0, u"body") == u"again"; }, 2500ms));
    EXPECT_EQ(controller->chat_list()->list().count(), 3);
    EXPECT_EQ(item_text(0, u"unread"), u"(2)");
    EXPECT_EQ(stack->top(), controller->chat_list());
    EXPECT_TRUE(logged(u"show_alert: программа вверху и это не алерт, ничего не делаем\n"));
    EXPECT_EQ(controller->alert_form(), nullptr);
}

TEST_F(Controller, MinimisedProgramRaisesTheAlertViewOpensTheChatAndCancelMinimises)
{
    start_and_wait();
    application->minimize();
    EXPECT_FALSE(application->is_in_front());
    deliver("+49 151 10000002", "are you there?");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    FormAlert& alert = *controller->alert_form();
    EXPECT_EQ(alert.title().text(), u"Vogel Berta");
    EXPECT_EQ(alert.message().text(), u"are you there?");
    EXPECT_EQ(alert.view_action(), u"open:+49 151 10000002");
    EXPECT_TRUE(application->is_in_front());
    EXPECT_TRUE(logged(u"find_contact_by_phone:+49 151 10000002 to Vogel Berta\n"));
    EXPECT_TRUE(logged(u"form_alert message:are you there?\n"));

    press(alert, u"btnView");
    EXPECT_EQ(stack->top(), &controller->chat_list()->chat_form());
    EXPECT_EQ(controller->view_action(), u"open:+49 151 10000002");
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000002");
    EXPECT_EQ(controller->model()->find_chat(u"0000002")->unread, 0);
    EXPECT_TRUE(logged(u"view_action:open:+49 151 10000002\n"));

    application->minimize();
    deliver("+4915110000003", "later");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    EXPECT_EQ(alert.title().text(), u"+4915110000003");
    press(alert, u"btnCancel");
    EXPECT_FALSE(application->is_in_front());
    EXPECT_FALSE(application->game().quit_requested());
    EXPECT_TRUE(pump_until([&] { return !stack->contains(alert); }));
}

TEST_F(Controller, ANewMessageWhileTheAlertIsOnTopRefillsIt)
{
    start_and_wait();
    application->minimize();
    deliver("+4915110000001", "one");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    deliver("+4915110000003", "two");
    ASSERT_TRUE(pump_until([&] { return controller->alert_form()->message().text() == u"two"; }, 2500ms));
    EXPECT_TRUE(alert_on_top());
    EXPECT_EQ(stack->size(), 2u);
    EXPECT_EQ(controller->alert_form()->title().text(), u"+4915110000003");
}

TEST_F(Controller, AlertsOffUpdateTheListButRaiseNothing)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Alerts", 0));
    start_and_wait();
    application->minimize();
    deliver("+4915110000001", "quiet");
    // The poll that brings the message to the list decides on the alert in the same step.
    ASSERT_TRUE(pump_until([&] { return item_text(0, u"body") == u"quiet"; }, 2500ms));
    EXPECT_EQ(controller->alert_form(), nullptr);
}

TEST_F(Controller, MessageModeShowsNothingAndItsAlertCancelEndsTheProgram)
{
    start(u"message");
    EXPECT_TRUE(stack->size() == 0);
    ASSERT_NE(controller->model(), nullptr);
    EXPECT_FALSE(application->is_in_front());
    // The full scan of message mode finds the unread messages already waiting.
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    EXPECT_EQ(controller->chat_list(), nullptr);
    EXPECT_EQ(controller->alert_form()->message().text(), u"third");
    press(*controller->alert_form(), u"btnCancel");
    EXPECT_TRUE(application->game().quit_requested());
}

TEST_F(Controller, ViewInMessageModeStartsTheProgramFullyAndOpensTheSendersChat)
{
    start(u"message");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    press(*controller->alert_form(), u"btnView");
    EXPECT_EQ(stack->top(), controller->splash_form());
    ASSERT_TRUE(pump_until([&] { return started(); }));
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000003");
    EXPECT_EQ(controller->model()->find_chat(u"0000003")->unread, 0);
    EXPECT_FALSE(application->game().quit_requested());
}

TEST_F(Controller, EscapeOnTheAlertDismissesIt)
{
    start_and_wait();
    application->minimize();
    deliver("+4915110000001", "escape me");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    EXPECT_TRUE(controller->on_key({ Key::Backspace, true, true }));
    EXPECT_TRUE(pump_until([&] { return stack->top() == controller->chat_list(); }));
    EXPECT_FALSE(controller->on_key({ Key::Backspace, true, true }));
}

TEST_F(Controller, OpenCommandLineOpensOrCreatesTheChatOfTheNumber)
{
    start_and_wait();
    controller->on_other_instance_started(u"open:+4915110000001");
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000001");
    EXPECT_EQ(controller->model()->find_chat(u"0000001")->unread, 0);
    EXPECT_EQ(controller->chat_list()->list().count(), 3);

    controller->on_other_instance_started(u"open:+4917099999999");
    ASSERT_EQ(controller->chat_list()->list().count(), 4);
    EXPECT_EQ(controller->model()->chats().front()->key, u"9999999");
    EXPECT_TRUE(controller->model()->chats().front()->messages.empty());
    pump_for(50ms);
    EXPECT_EQ(item_text(0, u"title"), u"+4917099999999");
    EXPECT_TRUE(logged(u"on_other_instance_started:open:+4917099999999\n"));

    // "open:" alone opens no chat, but it closes the one on screen, which leaves it: the empty
    // chat made above leaves the list, and nothing is current any more.
    controller->on_other_instance_started(u"open:");
    EXPECT_EQ(controller->chat_list()->list().count(), 3);
    EXPECT_EQ(controller->model()->current_chat_key(), u"");
    EXPECT_TRUE(logged(u"view_action:open:\n"));
}

TEST_F(Controller, OpenCommandLineAtStartIsPerformedWhenTheProgramHasStarted)
{
    start_and_wait(u"open:0151 10000003");
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000003");
    EXPECT_EQ(controller->chat_list()->list().count(), 3);
}

TEST_F(Controller, OpeningAReadNamedChatTouchesNeitherStoreNorCache)
{
    start_and_wait();
    controller->on_other_instance_started(u"open:+4915110000002");
    auto cache = device.path() / "cache";
    ASSERT_TRUE(std::filesystem::exists(cache));
    auto written = std::filesystem::last_write_time(cache);
    std::u16string before = log_text();
    controller->on_other_instance_started(u"open:+4915110000002");
    EXPECT_EQ(std::filesystem::last_write_time(cache), written);
    std::u16string after = log_text().substr(before.size());
    EXPECT_EQ(after.find(u"save_cache:"), std::u16string::npos) << to_utf8(after);
}

}

TEST(Avatar, InitialsOfTheFirstAndLastWordsInAnyScriptAndNoneForANumber)
{
    EXPECT_EQ(avatar_initials(u"Vogel Berta"), u"VB");
    EXPECT_EQ(avatar_initials(u"анна мария петрова"), u"АП");
    EXPECT_EQ(avatar_initials(u"  O'Neil  "), u"O");
    EXPECT_EQ(avatar_initials(u"Dr. Jean-Luc Picard"), u"DP");
    EXPECT_EQ(avatar_initials(u"\U0001D400lpha Beta"), u"\U0001D400B");
    // A virama or vowel sign is part of its word, and an initial keeps its marks.
    EXPECT_EQ(avatar_initials(u"प्रिया शर्मा"), u"प्रिश");
    EXPECT_EQ(avatar_initials(u"أحمد منصور"), u"أم");
    EXPECT_EQ(avatar_initials(u"+49 151 2345678"), u"");
    EXPECT_EQ(avatar_initials(u""), u"");
    EXPECT_EQ(avatar_initials(u"!!!"), u"");
}
