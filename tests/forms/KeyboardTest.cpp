#include "ControllerFixture.h"

#include "forms/AboutPanel.h"
#include "forms/FormChat.h"
#include "forms/FormContacts.h"
#include "forms/FormMain.h"
#include "forms/FormSearch.h"
#include "forms/FormTemplates.h"
#include "skin/Menu.h"

using namespace velloq;
using namespace std::chrono_literals;

namespace {

// The program driven by key events alone: no pointer event reaches it.
class Keyboard : public test::ControllerFixture {
protected:
    void type(KeyCode code)
    {
        application->key({ code, true, true, false });
        application->key({ code, false, true, false });
        pump_for(10ms);
    }
    // A message arriving while the program is in the background raises the alert.
    void alert_from(std::string const& number, std::string const& text)
    {
        application->minimize();
        deliver(number, text);
        ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
        settle();
    }
    // Down `downs` times in the list or menu on top, then Enter.
    void choose(int downs)
    {
        for (int step = 0; step < downs; ++step)
            type(Key::Down);
        type(Key::Enter);
        settle();
    }
    // The newest chat, chosen with Down and opened with Enter.
    void open_first_chat() { choose(1); }
    FormMain& main_form() { return *controller->chat_list(); }
};

}

TEST_F(Keyboard, ArrowsAndEnterOpenAChatFromTheList)
{
    deliver("+4915120000001", "older");
    deliver("+4915120000002", "newest");
    start_and_settle();
    type(Key::Down);
    EXPECT_EQ(main_form().list().selected(), 0);
    type(Key::Down);
    type(Key::End);
    EXPECT_EQ(main_form().list().selected(), 1);
    type(Key::Home);
    type(Key::Down);
    type(Key::Enter);
    settle();
    ASSERT_EQ(stack->top(), &main_form().chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000001");
}

TEST_F(Keyboard, TheMainMenuIsWalkedWithArrowsChosenWithEnterAndClosedWithEscape)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    type(Key::SoftRight);
    settle();
    ASSERT_TRUE(main_form().menu().is_open());
    type(Key::Esc);
    settle();
    EXPECT_FALSE(main_form().menu().is_open());
    type(Key::SoftRight);
    settle();
    // The first Down selects the row of four buttons, the next ones alerts, then templates.
    type(Key::Down);
    type(Key::Down);
    type(Key::Down);
    type(Key::Enter);
    settle();
    EXPECT_EQ(stack->top(), &main_form().templates_form());
}

TEST_F(Keyboard, EnterOnTheAlertOpensTheChatAndEscapeDismissesIt)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    alert_from("+4915120000002", "are you there?");
    type(Key::Enter);
    settle();
    EXPECT_EQ(stack->top(), &main_form().chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000002");

    alert_from("+4915120000003", "second");
    type(Key::Esc);
    settle();
    EXPECT_FALSE(alert_on_top());
}

TEST_F(Keyboard, EnterInTheChatSendsAndShiftEnterMakesANewLine)
{
    reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Modem", u"loopback");
    deliver("+4915120000001", "hello");
    start_and_settle();
    open_first_chat();
    FormChat& chat = main_form().chat_form();
    ASSERT_EQ(stack->top(), &chat);
    application->text_input(u"two");
    application->key({ Key::Enter, true, true, false, true });
    application->key({ Key::Enter, false, true, false, true });
    application->text_input(u"lines");
    EXPECT_EQ(chat.edit().text(), u"two\nlines");
    size_t before = controller->model()->find_chat(u"0000001")->messages.size();
    type(Key::Enter);
    EXPECT_TRUE(chat.edit().text().empty());
    ASSERT_TRUE(pump_until([&] { return controller->model()->find_chat(u"0000001")->messages.size() == before + 1; }));
    EXPECT_EQ(controller->model()->find_chat(u"0000001")->messages.back().text, u"two\nlines");
}

TEST_F(Keyboard, TypingOnTheListSearchesAndControlNStartsANewMessage)
{
    deliver("+4915120000001", "hello there");
    deliver("+4915120000002", "see you, Hélène");
    deliver("+4915120000003", "nothing new");
    start_and_settle();
    application->text_input(u"h");
    application->text_input(u"e");
    settle_search();
    ASSERT_NE(main_form().search_form(), nullptr);
    FormSearch& search = *main_form().search_form();
    ASSERT_EQ(stack->top(), &search);
    EXPECT_EQ(search.edit().text(), u"he");
    // Word beginnings, newest first, accents ignored.
    ASSERT_EQ(search.results().size(), 2u);
    EXPECT_EQ(search.results()[0].text, u"see you, Hélène");
    EXPECT_EQ(search.results()[0].marks, (std::vector<std::pair<size_t, size_t>> { { 9, 15 } }));
    type(Key::Down);
    type(Key::Down);
    type(Key::Enter);
    settle();
    FormChat& chat = main_form().chat_form();
    ASSERT_EQ(stack->top(), &chat);
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000001");
    EXPECT_EQ(chat.list().selected(), 0);
    // Back comes to the search, and back again to the list.
    type(Key::Esc);
    settle();
    EXPECT_EQ(stack->top(), &search);
    type(Key::Esc);
    settle();
    ASSERT_EQ(stack->top(), &main_form());
    application->key({ static_cast<KeyCode>(Key::A + ('N' - 'A')), true, true, true });
    application->key({ static_cast<KeyCode>(Key::A + ('N' - 'A')), false, true, true });
    settle();
    EXPECT_EQ(stack->top(), &main_form().contacts_form());
}

TEST_F(Keyboard, ATemplateIsInsertedAndTheLanguageSwitchedFromTheMenus)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    open_first_chat();
    FormChat& chat = main_form().chat_form();
    ASSERT_EQ(stack->top(), &chat);
    // The chat menu: recipients, contact, send a contact, templates.
    type(Key::SoftRight);
    settle();
    choose(4);
    ASSERT_EQ(stack->top(), &main_form().templates_form());
    choose(1);
    EXPECT_EQ(stack->top(), &chat);
    EXPECT_EQ(chat.edit().text(), main_form().templates_form().templates()[0]);

    type(Key::Esc);
    type(Key::Esc);
    settle();
    ASSERT_EQ(stack->top(), &main_form());
    // The main menu: the row of buttons, alerts, templates, language; then English, Russian.
    type(Key::SoftRight);
    settle();
    choose(4);
    choose(2);
    std::u16string language;
    EXPECT_TRUE(reg_get_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Language", language));
    EXPECT_EQ(language, u"russian");
}

TEST_F(Keyboard, AMessageIsForwardedToAContactPickedWithTheKeyboard)
{
    write_contact("berta.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vogel;Berta;;;\r\nTEL;TYPE=CELL:+49 151 10000002\r\nEND:VCARD\r\n");
    deliver("+4915120000001", "pass it on");
    start_and_settle();
    open_first_chat();
    ASSERT_EQ(stack->top(), &main_form().chat_form());
    // The message's menu: copy, delete, forward.
    choose(1);
    choose(3);
    ASSERT_EQ(stack->top(), &main_form().contacts_form());
    application->text_input(u"Ber");
    // End and Home reach the list while the filter is being typed.
    type(Key::End);
    EXPECT_EQ(main_form().contacts_form().list().selected(), main_form().contacts_form().list().count() - 1);
    type(Key::Home);
    type(Key::Enter);
    settle();
    ASSERT_EQ(stack->top(), &main_form().chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000002");
    EXPECT_EQ(main_form().chat_form().edit().text(), u"pass it on");
}

TEST_F(Keyboard, TheMenuKeyOpensTheSelectedMessagesMenuAndTabReachesTheSendButton)
{
    reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Modem", u"loopback");
    deliver("+4915120000001", "hello");
    start_and_settle();
    type(Key::ContextMenu);
    settle();
    ASSERT_TRUE(main_form().menu().is_open());
    type(Key::Esc);
    settle();
    open_first_chat();
    FormChat& chat = main_form().chat_form();
    ASSERT_EQ(stack->top(), &chat);
    type(Key::Down);
    type(Key::ContextMenu);
    settle();
    ASSERT_TRUE(chat.menu().is_open());
    std::vector<std::u16string> names;
    for (MenuEntry const& entry : chat.menu().entries())
        names.push_back(entry.name);
    EXPECT_NE(std::find(names.begin(), names.end(), u"Forward"), names.end());
    type(Key::Esc);
    settle();

    // Tab until the reply has the input, type, Tab on to the Send button and press it.
    for (int step = 0; step < 10 && !chat.edit().has_input(); ++step)
        type(Key::Tab);
    ASSERT_TRUE(chat.edit().has_input());
    application->text_input(u"by tab");
    auto is_send = [&] { return chat.focused() && chat.focused()->id() == u"btnSend"; };
    for (int step = 0; step < 10 && !is_send(); ++step)
        type(Key::Tab);
    ASSERT_TRUE(is_send());
    EXPECT_FALSE(chat.edit().has_input());
    type(Key::Space);
    ASSERT_TRUE(pump_until([&] { return controller->model()->find_chat(u"0000001")->messages.back().text == u"by tab"; }));
}

// A number typed in the picker is taken with Enter, as the button beside it would take it, and
// the list does not say "Nobody found" of it: one recipient opens its chat, among several it is
// added and marked.
TEST_F(Keyboard, ANumberTypedInThePickerIsTakenWithEnter)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    main_form().open_contacts(false);
    settle();
    FormContacts& picker = main_form().contacts_form();
    application->text_input(u"+4915199990000");
    pump_for(10ms);
    Element* empty = picker.find_by_id(u"empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(picker.list().count(), 0);
    EXPECT_FALSE(empty->is_visible());
    type(Key::Enter);
    settle();
    ASSERT_EQ(stack->top(), &main_form().chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"9990000");
    main_form().open_contacts(true);
    settle();
    application->text_input(u"+4915199990001");
    pump_for(10ms);
    type(Key::Enter);
    settle();
    EXPECT_EQ(stack->top(), &picker);
    PhoneEntry const* added = controller->model()->phone_book().find(u"9990001");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->mark, 1);
    EXPECT_TRUE(picker.edit().text().empty());
}

// The first Down in the main menu shows where it is: the focus is on the first button of the row
// of commands, Right moves along the row, Down leaves it for the entries and Up comes back to
// its first button, which Enter presses.
TEST_F(Keyboard, TheMainMenusRowOfCommandsIsReachedWithTheFirstDown)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    type(Key::SoftRight);
    settle();
    Form& menu = main_form().menu().form();
    auto focused_id = [&] { return menu.focused() ? menu.focused()->id() : std::u16string(u"<none>"); };
    type(Key::Down);
    EXPECT_EQ(focused_id(), u"About");
    type(Key::Right);
    EXPECT_EQ(focused_id(), u"Help");
    type(Key::Down);
    EXPECT_EQ(focused_id(), u"<none>");
    type(Key::Up);
    EXPECT_EQ(focused_id(), u"About");
    type(Key::Enter);
    settle();
    EXPECT_EQ(stack->top(), &main_form().about_panel());
}
