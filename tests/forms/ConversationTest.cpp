#include "ControllerFixture.h"

#include "../../tools/velloq-sms/SmsCommand.h"
#include "forms/AboutPanel.h"
#include "forms/FormChat.h"
#include "forms/FormContacts.h"
#include "forms/FormTemplates.h"
#include "messaging/ModemInbox.h"
#include "messaging/Transmitter.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "skin/ButtonElement.h"
#include "skin/TextElement.h"
#include "support/Wait.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

// A modem whose network takes every message, numbering them from 1.
class CountingTransmitter final : public ModemBackend {
public:
    Transmission transmit(std::u16string const&, std::u16string const&, bool) override { return { true, ++m_sent, {} }; }

private:
    int64_t m_sent { 0 };
};

class Conversation : public test::ControllerFixture {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        // The device sends through the loopback modem, as the demo phone does.
        reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Modem", u"loopback");
        write_contact("people.vcf",
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vogel;Berta;;;\r\nTEL;TYPE=CELL:+49 151 10000002\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Иванова;Ирина;;;\r\nTEL;TYPE=CELL:+7 912 3000004\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Adler;Anna Maria;;;\r\nTEL;TYPE=WORK:+49 30 5000005\r\nEND:VCARD\r\n");
    }
    void start_and_wait()
    {
        start();
        ASSERT_TRUE(pump_until([&] { return started(); }));
        pump_for(30ms);
    }
    void deliver_at(std::string const& from, std::string const& text, std::string const& time)
    {
        std::ostringstream out, err;
        ASSERT_EQ(tools::run_sms_command({ "deliver", "--from", from, "--time", time, text }, out, err), tools::SmsExit::Ok) << err.str();
    }
    FormMain& main_form() { return *controller->chat_list(); }
    FormChat& chat_form() { return main_form().chat_form(); }
    FormContacts& contacts() { return main_form().contacts_form(); }
    FormTemplates& templates() { return main_form().templates_form(); }
    // Lets a running transition end and the top form fill its lists.
    void settle()
    {
        ASSERT_TRUE(pump_until([&] { return stack->transition() == nullptr; }));
        pump_for(30ms);
    }
    void open_chat_of(std::u16string const& number)
    {
        controller->on_other_instance_started(u"open:" + number);
        ASSERT_EQ(stack->top(), &chat_form());
        settle();
    }
    std::u16string message_text(int32_t index, std::u16string_view id = u"body")
    {
        Element* item = chat_form().list().item(index);
        auto* text = item ? dynamic_cast<TextElement*>(item->find_by_id(id)) : nullptr;
        return text ? text->text() : u"<none>";
    }
    bool message_shows(int32_t index, std::u16string_view id)
    {
        Element* item = chat_form().list().item(index);
        Element* element = item ? item->find_by_id(id) : nullptr;
        return element && element->is_visible();
    }
    std::vector<std::u16string> sms_menu(int32_t index)
    {
        chat_form().item_activated(chat_form().list(), index);
        std::vector<std::u16string> names;
        for (auto const& entry : chat_form().menu().entries())
            names.push_back(entry.name);
        return names;
    }
    void command(Menu& menu, std::u16string const& name) { menu.open(name, {}, false); }
    // A device with the phone's modem but no modem service: a message sent in the chat of
    // +4915110000001 (after one received) waits in the outbox, not sent.
    void send_without_a_modem(std::u16string const& text)
    {
        reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Modem", u"modemmanager");
        deliver("+4915110000001", "hello");
        start_and_wait();
        open_chat_of(u"+4915110000001");
        chat_form().edit().set_text(text);
        press(chat_form(), u"btnSend");
        ASSERT_TRUE(pump_until([&] { return chat_form().list().count() == 2 && message_text(1, u"status") == u"Not sent"; }, 10s));
    }
    // Sends what the outbox holds through the test's modem. The program's own look at the
    // outbox may hold a message for a moment (it is claimed while the program tries its modem
    // service), so this tries until something went, and says how many.
    int64_t transmit_when_free(platform::MessageStore& store, ModemBackend& modem)
    {
        int64_t sent = 0;
        pump_until([&] { return (sent += transmit_outbox(store, modem).sent) > 0; }, 10s);
        return sent;
    }
    std::string store_list(std::string const& folder)
    {
        std::ostringstream out, err;
        tools::run_sms_command({ "list", "--folder", folder }, out, err);
        return out.str();
    }
};

TEST_F(Conversation, AChatShowsItsMessagesInOrderWithADaySeparatorPerDay)
{
    deliver_at("+4915110000001", "monday one", "2026-12-07T09:00");
    deliver_at("+4915110000001", "monday two", "2026-12-07T10:00");
    deliver_at("+4915110000001", "tuesday", "2026-12-08T08:00");
    start_and_wait();
    main_form().item_activated(main_form().list(), 0);
    ASSERT_EQ(stack->top(), &chat_form());
    pump_for(50ms);
    ASSERT_EQ(chat_form().list().count(), 3);
    EXPECT_EQ(message_text(0), u"monday one");
    EXPECT_EQ(message_text(1), u"monday two");
    EXPECT_EQ(message_text(2), u"tuesday");
    EXPECT_TRUE(message_shows(0, u"day_node"));
    EXPECT_FALSE(message_shows(1, u"day_node"));
    EXPECT_TRUE(message_shows(2, u"day_node"));
    EXPECT_TRUE(message_shows(0, u"incoming"));
    EXPECT_FALSE(message_shows(0, u"sent"));
    EXPECT_EQ(controller->model()->find_chat(u"0000001")->unread, 0);
    EXPECT_EQ(dynamic_cast<TextElement*>(chat_form().find_by_id(u"title"))->text(), u"+4915110000001");
    EXPECT_EQ(dynamic_cast<TextElement*>(chat_form().find_by_id(u"symbols"))->text(), u"1 Message (160)");
}

TEST_F(Conversation, TheDaySeparatorsAreRightTheFirstTimeAChatOpensAfterAStartFromTheCache)
{
    deliver_at("+4915110000001", "monday one", "2026-12-07T09:00");
    deliver_at("+4915110000001", "monday two", "2026-12-07T10:00");
    deliver_at("+4915110000001", "monday three", "2026-12-07T11:00");
    deliver_at("+4915110000001", "tuesday", "2026-12-08T08:00");
    start_and_wait();
    // The program ends and starts again: the chat now holds only ids from the cache.
    TearDown();
    start_and_wait();
    ASSERT_NE(log_text().find(u"load_cache success:1 chats"), std::u16string::npos);
    main_form().item_activated(main_form().list(), 0);
    ASSERT_EQ(stack->top(), &chat_form());
    pump_for(50ms);
    ASSERT_EQ(chat_form().list().count(), 4);
    EXPECT_TRUE(message_shows(0, u"day_node"));
    EXPECT_FALSE(message_shows(1, u"day_node"));
    EXPECT_FALSE(message_shows(2, u"day_node"));
    EXPECT_TRUE(message_shows(3, u"day_node"));
}

TEST_F(Conversation, SendingGoesToTheChatAndTheTickedRecipientsAndComesBackAsSent)
{
    deliver("+4915110000001", "hello");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    // Tick Berta as a further recipient.
    main_form().open_contacts(true);
    ASSERT_EQ(stack->top(), &contacts());
    auto const& book = controller->model()->phone_book().entries();
    auto berta = std::find_if(book.begin(), book.end(), [](PhoneEntry const& entry) { return entry.key == u"0000002"; });
    ASSERT_NE(berta, book.end());
    auto position = std::find(contacts().shown().begin(), contacts().shown().end(), size_t(berta - book.begin())) - contacts().shown().begin();
    contacts().item_activated(contacts().list(), static_cast<int32_t>(position));
    press(contacts(), u"btnClose");
    ASSERT_TRUE(pump_until([&] { return stack->top() == &chat_form(); }));

    chat_form().edit().set_text(u"On my way");
    press(chat_form(), u"btnSend");
    EXPECT_EQ(chat_form().edit().text(), u"");
    EXPECT_NE(log_text().find(u"send sms recipients:2 body:On my way\n"), std::u16string::npos);
    EXPECT_NE(log_text().find(u"after send\n"), std::u16string::npos);
    // The transmitter started in the background moves it to Sent Items; the chat follows.
    ASSERT_TRUE(pump_until([&] {
        Chat* chat = controller->model()->find_chat(u"0000001");
        return chat && chat->messages.back().folder == FolderKind::Sent;
    }, 10s));
    std::string sent = store_list("sent");
    EXPECT_NE(sent.find("+4915110000001"), std::string::npos) << sent;
    EXPECT_NE(sent.find("On my way"), std::string::npos) << sent;
    EXPECT_NE(controller->model()->find_chat(u"0000002"), nullptr);
    pump_for(50ms);
    int32_t last = chat_form().list().count() - 1;
    EXPECT_EQ(message_text(last), u"On my way");
    EXPECT_TRUE(message_shows(last, u"sent"));
}

TEST_F(Conversation, SendingAnEmptyEditDoesNothing)
{
    deliver("+4915110000001", "hello");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    press(chat_form(), u"btnSend");
    EXPECT_EQ(log_text().find(u"send sms recipients:"), std::u16string::npos);
    EXPECT_EQ(store_list("outbox"), "");
}

TEST_F(Conversation, TheMessageMenuListsNumbersThenMailsThenWebAddresses)
{
    deliver("+4915110000001", "see www.example.org or call +49 151 2345678, mail a@b.de, again +49 151 2345678");
    deliver("+4915110000001", "nothing to follow here");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    EXPECT_EQ(sms_menu(0), (std::vector<std::u16string> { u"Call +49 151 2345678", u"Call +49 151 2345678", u"Mail a@b.de", u"Visit www.example.org",
                               u"CopyText", u"DeleteSMS", u"Forward", u"Resend", u"Cancel" }));
    EXPECT_EQ(chat_form().menu().entries()[0].text, u"Call +49 151 2345678");
    chat_form().menu().close();
    EXPECT_EQ(sms_menu(1), (std::vector<std::u16string> { u"CopyText", u"DeleteSMS", u"Forward", u"Resend", u"Cancel" }));
}

TEST_F(Conversation, DeleteResendAndForward)
{
    deliver("+4915110000001", "first");
    deliver("+4915110000001", "second");
    deliver("+4915110000002", "berta's");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    // Deleting asks once more; Cancel keeps the message.
    sms_menu(0);
    command(chat_form().menu(), u"DeleteSMS");
    std::vector<std::u16string> asked;
    for (auto const& entry : chat_form().menu().entries())
        asked.push_back(entry.name);
    EXPECT_EQ(asked, (std::vector<std::u16string> { u"ReallyDeleteSMS", u"Cancel" }));
    command(chat_form().menu(), u"Cancel");
    pump_for(30ms);
    EXPECT_EQ(chat_form().list().count(), 2);
    sms_menu(0);
    command(chat_form().menu(), u"DeleteSMS");
    command(chat_form().menu(), u"ReallyDeleteSMS");
    pump_for(30ms);
    EXPECT_EQ(chat_form().list().count(), 1);
    EXPECT_EQ(store_list("inbox").find("first"), std::string::npos);
    EXPECT_EQ(message_text(0), u"second");

    sms_menu(0);
    command(chat_form().menu(), u"Resend");
    EXPECT_EQ(chat_form().edit().text(), u"second");
    chat_form().edit().set_text({});

    sms_menu(0);
    command(chat_form().menu(), u"Forward");
    ASSERT_EQ(stack->top(), &contacts());
    EXPECT_FALSE(contacts().multi_recipient());
    EXPECT_EQ(controller->model()->current_chat_key(), u"");
    contacts().edit().set_text(u"vogel");
    contacts().edit().on_change();
    ASSERT_EQ(contacts().shown().size(), 1u);
    contacts().item_activated(contacts().list(), 0);
    EXPECT_EQ(stack->top(), &chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000002");
    EXPECT_EQ(chat_form().edit().text(), u"second");
}

TEST_F(Conversation, DeletingTheChatEmptiesItFromStoreAndList)
{
    deliver("+4915110000001", "one");
    deliver("+4915110000001", "two");
    deliver("+4915110000002", "other");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    chat_form().menu().open(u"Chat", {}, true);
    command(chat_form().menu(), u"DeleteChat");
    ASSERT_EQ(chat_form().menu().entries().size(), 2u);
    EXPECT_EQ(chat_form().menu().entries()[0].item_section, u"MenuElementRed");
    command(chat_form().menu(), u"ReallyDeleteChat");
    EXPECT_EQ(controller->model()->find_chat(u"0000001"), nullptr);
    EXPECT_EQ(main_form().list().count(), 1);
    EXPECT_EQ(store_list("inbox").find("+4915110000001"), std::string::npos);
    EXPECT_TRUE(pump_until([&] { return stack->top() == controller->chat_list(); }));
}

TEST_F(Conversation, ClosingANewChatWithoutMessagesRemovesIt)
{
    deliver("+4915110000001", "one");
    start_and_wait();
    open_chat_of(u"+4917099999999");
    EXPECT_EQ(main_form().list().count(), 2);
    press(chat_form(), u"btnClose");
    EXPECT_EQ(main_form().list().count(), 1);
    EXPECT_EQ(controller->model()->current_chat_key(), u"");
}

TEST_F(Conversation, AMessageThatVanishesWhileTheChatIsOpenLeavesIt)
{
    deliver("+4915110000001", "stays");
    deliver("+4915110000001", "goes");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    Chat* chat = controller->model()->find_chat(u"0000001");
    std::ostringstream out, err;
    ASSERT_EQ(tools::run_sms_command({ "delete", chat->messages.back().id.hex() }, out, err), tools::SmsExit::Ok);
    chat_form().list().reset(2);
    settle();
    EXPECT_EQ(chat_form().list().count(), 1);
    EXPECT_EQ(message_text(0), u"stays");
}

TEST_F(Conversation, TheCounterFollowsTheText)
{
    deliver("+4915110000001", "one");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    chat_form().edit().begin_input();
    chat_form().edit().text_input(u"Привет");
    EXPECT_EQ(dynamic_cast<TextElement*>(chat_form().find_by_id(u"symbols"))->text(), u"1 Message (64)");
}

class ContactsForm : public Conversation {
protected:
    void filter(std::u16string const& text)
    {
        contacts().edit().set_text(text);
        contacts().edit().on_change();
    }
    std::vector<std::u16string> shown_names()
    {
        std::vector<std::u16string> names;
        for (size_t index : contacts().shown()) {
            auto const& entry = controller->model()->phone_book().entries()[index];
            names.push_back(entry.name.empty() ? entry.number : entry.name);
        }
        return names;
    }
};

TEST_F(ContactsForm, FiltersByWordStartsAndDigitsAndShowsTheRuler)
{
    deliver("+4915110000009", "unnamed");
    start_and_wait();
    press(main_form(), u"btnNew");
    ASSERT_EQ(stack->top(), &contacts());
    EXPECT_FALSE(contacts().multi_recipient());
    EXPECT_EQ(shown_names(), (std::vector<std::u16string> { u"+4915110000009", u"Adler Anna Maria", u"Vogel Berta", u"Иванова Ирина" }));
    EXPECT_EQ(contacts().letters(), (std::vector<std::u16string> { u"+", u"A", u"V", u"И" }));
    EXPECT_EQ(contacts().letter_buttons().size(), 4u);
    filter(u"mar");
    EXPECT_EQ(shown_names(), (std::vector<std::u16string> { u"Adler Anna Maria" }));
    filter(u"ria");
    EXPECT_TRUE(shown_names().empty());
    // Capitals in the filter find what lower case finds, in every script.
    filter(u"Mar");
    EXPECT_EQ(shown_names(), (std::vector<std::u16string> { u"Adler Anna Maria" }));
    filter(u"ИРИ");
    EXPECT_EQ(shown_names(), (std::vector<std::u16string> { u"Иванова Ирина" }));
    filter(u"ири");
    EXPECT_EQ(shown_names(), (std::vector<std::u16string> { u"Иванова Ирина" }));
    filter(u"0000");
    EXPECT_EQ(shown_names(), (std::vector<std::u16string> { u"+4915110000009", u"Adler Anna Maria", u"Vogel Berta", u"Иванова Ирина" }));
    EXPECT_TRUE(contacts().active_button().is_visible());
    filter(u"+7 (912)");
    EXPECT_FALSE(contacts().active_button().is_visible());
    filter({});
    settle();
    auto* title = dynamic_cast<TextElement*>(contacts().list().item(2)->find_by_id(u"title"));
    EXPECT_EQ(title->text(), u"Vogel Berta");
    contacts().letter_buttons()[3]->on_press();
    EXPECT_EQ(dynamic_cast<TextElement*>(contacts().find_by_id(u"title"))->text(), u"Recipient");
}

TEST_F(ContactsForm, TicksSurviveCloseAndReopenAndTheCorrespondentStays)
{
    deliver("+4915110000001", "hello");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    main_form().open_contacts(true);
    ASSERT_EQ(shown_names().front(), u"+4915110000001");
    contacts().item_activated(contacts().list(), 0);
    EXPECT_EQ(controller->model()->phone_book().find(u"0000001")->mark, 1);
    contacts().item_activated(contacts().list(), 2);
    std::u16string ticked = shown_names()[2];
    press(contacts(), u"btnClose");
    main_form().open_contacts(true);
    EXPECT_EQ(shown_names()[1], ticked);
    EXPECT_EQ(std::count_if(controller->model()->phone_book().entries().begin(), controller->model()->phone_book().entries().end(),
                  [](PhoneEntry const& entry) { return entry.mark == 1; }),
        2);
    filter(u"+49 170 55");
    press(contacts(), u"btnAdd");
    EXPECT_EQ(controller->model()->phone_book().find(u"4917055")->mark, 1);
    EXPECT_EQ(contacts().edit().text(), u"");
}

TEST_F(ContactsForm, ATypedNumberStartsANewChatInSingleMode)
{
    deliver("+4915110000001", "hello");
    start_and_wait();
    press(main_form(), u"btnNew");
    filter(u"+49 170 7654321");
    press(contacts(), u"btnWrite");
    EXPECT_EQ(stack->top(), &chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"7654321");
    EXPECT_EQ(main_form().list().count(), 2);
}

TEST_F(Conversation, TemplatesAddDeleteAndKeepLanguageTemplates)
{
    deliver("+4915110000001", "hello");
    start_and_wait();
    std::u16string const key = u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq";
    size_t language_count = templates().templates().size();
    templates().show(0);
    templates().edit().set_text(u"Back at 5/Later");
    press(templates(), u"btnAdd");
    EXPECT_EQ(templates().templates().front(), u"Back at 5/Later");
    EXPECT_EQ(templates().user_count(), 1);
    // A template keeps its text whole across restarts, slashes and backslashes included.
    std::u16string stored;
    EXPECT_TRUE(reg_get_string(key, u"TemplateTexts", stored));
    EXPECT_EQ(stored, u"Back at 5\\/Later");
    templates().skin_loaded();
    EXPECT_EQ(templates().user_count(), 1);
    EXPECT_EQ(templates().templates()[0], u"Back at 5/Later");
    templates().show(0);
    settle();
    templates().edit().set_text(u"C:\\path/x");
    press(templates(), u"btnAdd");
    templates().skin_loaded();
    EXPECT_EQ(templates().user_count(), 2);
    EXPECT_EQ(templates().templates()[0], u"C:\\path/x");
    // A value an earlier version wrote reads as it did, and the next save writes the new one.
    ASSERT_TRUE(reg_delete_value(key, u"TemplateTexts"));
    ASSERT_TRUE(reg_set_string(key, u"Templates", u"Back at 5/Later"));
    templates().skin_loaded();
    EXPECT_EQ(templates().user_count(), 2);
    EXPECT_EQ(templates().templates()[1], u"Later");

    templates().item_activated(templates().list(), static_cast<int32_t>(templates().templates().size()) - 1);
    EXPECT_EQ(templates().menu().entries().size(), 2u);
    templates().menu().close();
    for (int i = 0; i < 2; ++i) {
        templates().item_activated(templates().list(), 0);
        ASSERT_EQ(templates().menu().entries().front().name, u"Delete");
        command(templates().menu(), u"Delete");
    }
    EXPECT_EQ(templates().user_count(), 0);
    EXPECT_EQ(templates().templates().size(), language_count);
    EXPECT_FALSE(reg_get_string(key, u"Templates", stored));
    EXPECT_FALSE(reg_get_string(key, u"TemplateTexts", stored));
}

TEST_F(Conversation, ATemplateGoesIntoTheChatOrStartsANewMessage)
{
    deliver("+4915110000001", "hello");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    chat_form().menu().open(u"Chat", {}, true);
    command(chat_form().menu(), u"Templates");
    ASSERT_TRUE(pump_until([&] { return stack->top() == &templates(); }));
    templates().item_activated(templates().list(), 0);
    EXPECT_EQ(chat_form().edit().text(), templates().templates()[0]);
    EXPECT_TRUE(pump_until([&] { return stack->top() == &chat_form(); }));

    press(chat_form(), u"btnClose");
    main_form().show_templates(0);
    templates().item_activated(templates().list(), 1);
    command(templates().menu(), u"Send");
    ASSERT_EQ(stack->top(), &contacts());
    contacts().item_activated(contacts().list(), 0);
    // The first template, left unsent in the chat, stays; the second follows on a line of its own.
    EXPECT_EQ(chat_form().edit().text(), templates().templates()[0] + u"\n" + templates().templates()[1]);
}

TEST_F(Conversation, MainMenuAlertsLanguageAndAbout)
{
    deliver("+4915110000001", "hello");
    start_and_wait();
    std::u16string const key = u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq";
    press(main_form(), u"btnMenu");
    std::vector<std::u16string> names;
    for (auto const& entry : main_form().menu().entries())
        names.push_back(entry.name);
    EXPECT_EQ(names, (std::vector<std::u16string> { u"MainMenu", u"Alerts", u"Templates", u"Language", u"Cancel" }));
    EXPECT_TRUE(main_form().menu().entries()[1].checked);
    command(main_form().menu(), u"Alerts");
    command(main_form().menu(), u"Alerts");
    int32_t alerts = 0;
    EXPECT_TRUE(reg_get_int(key, u"Alerts", alerts));
    EXPECT_EQ(alerts, 1);
    EXPECT_TRUE(controller->alert_registration().on());

    command(main_form().menu(), u"About");
    EXPECT_EQ(stack->top(), &main_form().about_panel());
    press(main_form().about_panel(), u"btnClose");
    ASSERT_TRUE(pump_until([&] { return stack->top() == controller->chat_list(); }));

    main_form().open_contacts(false);
    main_form().menu().open(u"Language#russian", {}, false);
    ASSERT_TRUE(pump_until([&] { return dynamic_cast<TextElement*>(contacts().find_by_id(u"title"))->text() == u"Получатель"; }));
    std::u16string language;
    EXPECT_TRUE(reg_get_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Language", language));
    EXPECT_EQ(language, u"russian");
    EXPECT_EQ(stack->top(), &contacts());
}

TEST_F(Conversation, ALinkWithShellCharactersReachesTheOpenerAsOneArgument)
{
    auto bin = device.path() / "bin";
    auto record = device.path() / "opened";
    std::filesystem::create_directories(bin);
    std::ofstream(bin / "xdg-open") << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"" << record.string() << ".part\"\nmv \""
                                     << record.string() << ".part\" \"" << record.string() << "\"\n";
    ::chmod((bin / "xdg-open").c_str(), 0755);
    std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
    deliver("+4915110000001", "look at -x.org/$(touch${IFS}pwned)&a=`id`|b.com now");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    auto names = sms_menu(0);
    ASSERT_EQ(names.size(), 6u);
    ASSERT_TRUE(names[0].starts_with(u"Visit ")) << to_utf8(names[0]);
    command(chat_form().menu(), names[0]);
    EXPECT_TRUE(test::wait_for_file(record));
    EXPECT_EQ(test::read_file(record), "[http://" + to_utf8(names[0].substr(6)) + "]\n");
    EXPECT_FALSE(std::filesystem::exists(device.path() / "pwned"));
    EXPECT_FALSE(application->is_in_front());
    ::setenv("PATH", old_path.c_str(), 1);
}

}

namespace {

TEST_F(Conversation, TheBackKeyLeavesTheChat)
{
    deliver("+4915110000001", "one");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    // With a keyboard at hand the reply has the input: Backspace edits there, and leaves nothing.
    ASSERT_TRUE(chat_form().edit().has_input());
    EXPECT_TRUE(chat_form().key({ Key::Backspace, true, true }));
    EXPECT_EQ(stack->top(), &chat_form());
    // Once the reply has let go of it, Backspace is the phone's back key.
    chat_form().edit().end_input();
    EXPECT_TRUE(chat_form().key({ Key::Backspace, true, true }));
    EXPECT_EQ(controller->model()->current_chat_key(), u"");
    EXPECT_TRUE(pump_until([&] { return stack->top() == controller->chat_list(); }));
}

}

namespace {

TEST_F(Conversation, AMessageWithThousandsOfLinksOpensAMenuThatScrolls)
{
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "www.site" + std::to_string(i) + ".com ";
    deliver("+4915110000001", text);
    start_and_wait();
    open_chat_of(u"+4915110000001");
    auto names = sms_menu(0);
    ASSERT_EQ(names.size(), 2005u);
    EXPECT_EQ(names[1999], u"Visit www.site1999.com");
    settle();
    auto* entries = dynamic_cast<VList*>(chat_form().menu().form().find_by_id(u"vlist"));
    ASSERT_NE(entries, nullptr);
    EXPECT_GT(entries->size().y, 200);
    EXPECT_LE(entries->size().y, 800);
    EXPECT_NE(entries->item(0), nullptr);
}

}

TEST_F(Conversation, ASentMessageShowsHowFarItGotAndFollowsItsReportWhileTheChatIsOpen)
{
    ASSERT_NO_FATAL_FAILURE(send_without_a_modem(u"Are you there?"));
    EXPECT_FALSE(message_shows(0, u"status"));

    // A modem sends it; it comes back from Sent Items as sent, and its delivery report follows.
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    ASSERT_TRUE(store) << error;
    CountingTransmitter modem;
    ASSERT_EQ(transmit_when_free(*store, modem), 1);
    ASSERT_TRUE(pump_until([&] { return message_text(chat_form().list().count() - 1, u"status") == u"Sent"; }, 10s));
    StatusReport report { u"+4915110000001", 1, 0x00, MessageTime::now().filetime(), "report" };
    ASSERT_EQ(file_status_report(*store, report, MessageTime::now().filetime()), ReportOutcome::Delivered);
    ASSERT_TRUE(pump_until([&] {
        int32_t count = chat_form().list().count();
        return count == 3 && message_text(1, u"status") == u"Delivered" && message_shows(2, u"report");
    }, 10s));
    // The report is a small line of its own, not a bubble from the other party, and it is neither
    // unread nor the chat's preview.
    EXPECT_FALSE(message_shows(2, u"bubble"));
    EXPECT_EQ(message_text(2, u"report_text").rfind(u"Delivered ", 0), 0u) << to_utf8(message_text(2, u"report_text"));
    Chat* chat = controller->model()->find_chat(u"0000001");
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->unread, 0);
    Element* preview = main_form().list().item(0);
    auto* body = preview ? dynamic_cast<TextElement*>(preview->find_by_id(u"body")) : nullptr;
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->text(), u"Are you there?");
}

TEST_F(Conversation, SendAgainRetriesAMessageThatDidNotGoSoThatOneCopyGoesOut)
{
    ASSERT_NO_FATAL_FAILURE(send_without_a_modem(u"Only once"));
    // It looks like no sent message, and sending it again is the first thing its menu offers.
    EXPECT_TRUE(message_shows(1, u"failed"));
    EXPECT_FALSE(message_shows(1, u"outbox"));
    EXPECT_EQ(sms_menu(1).front(), u"Resend");
    command(chat_form().menu(), u"Resend");
    EXPECT_EQ(chat_form().edit().text(), u"");
    auto outbox = store_list("outbox");
    EXPECT_EQ(std::count(outbox.begin(), outbox.end(), '\n'), 1) << outbox;

    std::string error;
    auto store = platform::MessageStore::open_device(error);
    ASSERT_TRUE(store) << error;
    CountingTransmitter modem;
    EXPECT_EQ(transmit_when_free(*store, modem), 1);
    EXPECT_EQ(transmit_outbox(*store, modem).sent, 0);
    ASSERT_TRUE(pump_until([&] { return message_text(chat_form().list().count() - 1, u"status") == u"Sent"; }, 10s));
    EXPECT_EQ(chat_form().list().count(), 2);
    EXPECT_FALSE(message_shows(1, u"failed"));
    auto sent = store_list("sent");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), 1) << sent;
}

TEST_F(Conversation, AReplyGoesToTheNumberThePersonLastWroteFromAndTheChatSaysWhichItIs)
{
    // Berta's card has +49 151 10000002; she writes from another number with the same key.
    deliver("+7 (912) 000-00-02", "from my Russian number");
    deliver("+7 (912) 000-00-02", "still here");
    start_and_wait();
    open_chat_of(u"+4915110000002");
    ASSERT_EQ(chat_form().list().count(), 2);
    auto* line = dynamic_cast<TextElement*>(chat_form().find_by_id(u"type"));
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->is_visible());
    EXPECT_EQ(line->text(), u"+7 (912) 000-00-02");
    chat_form().edit().set_text(u"Got it");
    press(chat_form(), u"btnSend");
    ASSERT_TRUE(pump_until([&] { return chat_form().list().count() == 3; }, 10s));
    std::string sent = store_list("sent") + store_list("outbox");
    EXPECT_NE(sent.find("+7 (912) 000-00-02"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("+49 151 10000002"), std::string::npos) << sent;
}

TEST_F(Conversation, AMessageMovedToSentItemsAsItsItemIsMadeKeepsItsPlace)
{
    ASSERT_NO_FATAL_FAILURE(send_without_a_modem(u"in flight"));
    // The transmitter moves it to Sent Items before the chat's next poll, and its item is made anew.
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    ASSERT_TRUE(store) << error;
    CountingTransmitter modem;
    ASSERT_EQ(transmit_when_free(*store, modem), 1);
    chat_form().list().scroll_to(0);
    chat_form().list().scroll_to(1);
    EXPECT_EQ(chat_form().list().count(), 2);
    EXPECT_EQ(message_text(1), u"in flight");
    ASSERT_TRUE(pump_until([&] { return message_text(1, u"status") == u"Sent"; }, 10s));
    EXPECT_EQ(chat_form().list().count(), 2);
}

TEST_F(Conversation, AnOldDraftShowsAsADraftAndKeepsItsTimeAndPlaceWhenLeftUnchanged)
{
    deliver_at("+4915110000001", "an old message", "2026-12-01T09:00");
    {
        // A draft written a week ago, before the other chat's new message.
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        ASSERT_TRUE(store) << error;
        auto drafts = *store->store_property(store->stores()->front().entry_id, platform::Tag::DraftsEntryId);
        platform::StoredMessage draft;
        draft.recipients.push_back({ { platform::Tag::RecipientType, int64_t(1) }, { platform::Tag::AddressType, std::u16string(u"SMS") },
            { platform::Tag::DisplayName, std::u16string() }, { platform::Tag::EmailAddress, std::u16string(u"+4915110000001") } });
        draft.properties = { { platform::Tag::Subject, std::u16string(u"half a thought") }, { platform::Tag::MessageFlags, int64_t(0x29) },
            { platform::Tag::LastModificationTime, MessageTime::from_unix_milliseconds(1'796'000'000'000LL).filetime() } };
        ASSERT_TRUE(store->create_message(drafts, draft, false));
    }
    deliver_at("+4915110000003", "a new message", "2026-12-08T09:00");
    start_and_wait();
    auto row_text = [&](int32_t row) {
        Element* item = main_form().list().item(row);
        auto* body = item ? dynamic_cast<TextElement*>(item->find_by_id(u"body")) : nullptr;
        return body ? body->text() : u"<none>";
    };
    ASSERT_EQ(main_form().list().count(), 2);
    EXPECT_EQ(row_text(0), u"a new message");
    EXPECT_EQ(row_text(1), u"Draft: half a thought");
    std::string drafts_before = store_list("drafts");
    open_chat_of(u"+4915110000001");
    EXPECT_EQ(chat_form().edit().text(), u"half a thought");
    chat_form().close(false);
    settle();
    EXPECT_EQ(store_list("drafts"), drafts_before) << "the same draft, with its time";
    EXPECT_EQ(row_text(0), u"a new message");
    EXPECT_EQ(row_text(1), u"Draft: half a thought");
}

// A bubble's straight edges are one colour all along: the part of its picture that repeats
// across a wide bubble holds no pixel of its rounded corners.
TEST_F(Conversation, ABubblesStraightEdgesHaveNoLighterPixels)
{
    deliver("+4915110000001", "a message long enough to make its bubble as wide as the chat lets it be");
    start_and_wait();
    open_chat_of(u"+4915110000001");
    Element* bubble = chat_form().list().item(0)->find_by_id(u"incoming");
    ASSERT_NE(bubble, nullptr);
    auto frame = Bitmap565::create(480, 800);
    application->draw(*frame);
    Rect box = bubble->rect();
    ASSERT_GT(box.width, 120);
    for (int32_t y : { box.top, box.top + box.height - 1 }) {
        uint16_t const* row = frame->row(y);
        for (int32_t x = box.left + 20; x < box.left + box.width - 20; ++x)
            ASSERT_EQ(row[x], row[box.left + 20]) << "row " << y << ", x " << x;
    }
}

// A long chat opens with its newest page; scrolling up to its oldest held message reads the
// older ones from the store, a page at a time, in front of those it holds.
TEST_F(Conversation, ALongChatReadsItsOlderMessagesWhenScrolledUp)
{
    for (int minute = 0; minute < 150; ++minute) {
        char at[32];
        std::snprintf(at, sizeof at, "2026-11-%02dT%02d:%02d", 1 + minute / 60, 8 + minute % 60 / 10, minute % 10);
        deliver_at("+4915110000001", "message " + std::to_string(minute), at);
    }
    start_and_wait();
    open_chat_of(u"+4915110000001");
    Chat* chat = controller->model()->find_chat(u"0000001");
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat_form().list().count(), 40);
    EXPECT_EQ(message_text(39), u"message 149");
    chat_form().list().scroll_to(0);
    ASSERT_TRUE(pump_until([&] { return chat_form().list().count() == 140; }));
    EXPECT_EQ(message_text(100), u"message 110") << "the message that was first comes after the page read";
    chat_form().list().scroll_to(0);
    ASSERT_TRUE(pump_until([&] { return chat->holds_oldest; }));
    chat_form().list().scroll_to(0);
    pump_for(50ms);
    EXPECT_EQ(chat_form().list().count(), 150);
    EXPECT_EQ(message_text(0), u"message 0");
}
