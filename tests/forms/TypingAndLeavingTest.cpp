// The core loop of reading, typing and sending, driven through the real forms with keys and
// pointer events as a user on a desktop makes them.
#include "ControllerFixture.h"

#include "../../tools/velloq-sms/SmsCommand.h"
#include "forms/AboutPanel.h"
#include "forms/CompanionDialog.h"
#include "forms/FormChat.h"
#include "forms/FormContacts.h"
#include "platform/Clipboard.h"
#include "platform/Utf.h"
#include "skin/ButtonElement.h"
#include "skin/TextEdit.h"
#include "support/Wait.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

class TypingAndLeaving : public test::ControllerFixture {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        write_contact("people.vcf",
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vogel;Berta;;;\r\nTEL;TYPE=CELL:+49 151 10000002\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Adler;Anna;;;\r\nTEL;TYPE=WORK:+49 30 5000005\r\nEND:VCARD\r\n");
        deliver("+4915110000002", "hello from Berta");
        deliver("+4915110000001", "see www.example.org or file:///etc/passwd.de");
    }
    void TearDown() override
    {
        if (!m_path.empty())
            ::setenv("PATH", m_path.c_str(), 1);
        ControllerFixture::TearDown();
    }
    void start_and_wait(std::u16string const& command_line = {})
    {
        start(command_line);
        ASSERT_TRUE(pump_until([&] { return started(); }));
        settle();
    }
    void settle()
    {
        ASSERT_TRUE(pump_until([&] { return stack->transition() == nullptr; }));
        pump_for(30ms);
    }
    FormMain& main_form() { return *controller->chat_list(); }
    FormChat& chat_form() { return main_form().chat_form(); }
    FormContacts& contacts() { return main_form().contacts_form(); }
    void open_chat_of(std::u16string const& number)
    {
        controller->on_other_instance_started(u"open:" + number);
        ASSERT_EQ(stack->top(), &chat_form());
        settle();
    }
    // A key as the main loop hands it on: to the program first, then to the form on top.
    void key(KeyCode code, bool control = false)
    {
        for (bool pressed : { true, false }) {
            KeyEvent event { code, pressed, true, control };
            if (!application->listener() || !application->listener()->on_key(event))
                application->key(event);
        }
    }
    void type(std::u16string const& text) { application->text_input(text); }
    // An opener that records what it was given, or none at all.
    std::filesystem::path use_recording_opener(bool present = true)
    {
        auto bin = device.path() / "bin";
        auto record = device.path() / "opened";
        std::filesystem::create_directories(bin);
        if (present) {
            std::ofstream(bin / "xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << record.string() << ".part\"\nmv \"" << record.string()
                                             << ".part\" \"" << record.string() << "\"\n";
            ::chmod((bin / "xdg-open").c_str(), 0755);
        }
        m_path = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", present ? (bin.string() + ":" + m_path).c_str() : bin.c_str(), 1);
        return record;
    }
    std::vector<std::u16string> menu_names(Menu& menu)
    {
        std::vector<std::u16string> names;
        for (auto const& entry : menu.entries())
            names.push_back(entry.name);
        return names;
    }
    std::string store_list(std::string const& folder)
    {
        std::ostringstream out, err;
        tools::run_sms_command({ "list", "--folder", folder }, out, err);
        return out.str();
    }
    std::u16string type_line() { return dynamic_cast<TextElement*>(chat_form().find_by_id(u"type"))->text(); }

    std::string m_path;
};

}

TEST_F(TypingAndLeaving, TheEditHasNoBlackBoxAndTheFormDoesNotMoveWhileTyping)
{
    start_and_wait();
    open_chat_of(u"+4915110000002");
    TextEdit& edit = chat_form().edit();
    Rect before = edit.rect();
    // No shipped edit sets a background: the field's own picture shows under the typed text.
    EXPECT_EQ(edit.background().alpha, 0);
    edit.begin_input();
    type(u"hi");
    // The typing layout's first frame, however long the machine takes to draw it.
    ASSERT_TRUE(pump_until([&] { return application->game().last_frame() != nullptr; }));
    EXPECT_EQ(application->client_rect(), (Rect { 0, 0, application->screen_info().screen_width, application->screen_info().screen_height }));
    EXPECT_EQ(edit.rect(), before);
    Bitmap565 const& frame = *application->game().last_frame();
    uint16_t behind = frame.row(edit.rect().top + 2)[edit.rect().left + edit.rect().width - 3];
    EXPECT_NE(behind, 0) << "the typing field is drawn black";
}

TEST_F(TypingAndLeaving, EscapeLeavesTheChatWhileTypingAndBackspaceEdits)
{
    start_and_wait();
    open_chat_of(u"+4915110000002");
    chat_form().edit().begin_input();
    type(u"Hallo");
    key(Key::Backspace);
    EXPECT_EQ(chat_form().edit().text(), u"Hall");
    EXPECT_EQ(stack->top(), &chat_form());
    key(Key::Esc);
    EXPECT_TRUE(pump_until([&] { return stack->top() == controller->chat_list(); }));
    EXPECT_EQ(controller->model()->current_chat_key(), u"");
}

TEST_F(TypingAndLeaving, ClipboardShortcutsAndCopyText)
{
    start_and_wait();
    open_chat_of(u"+4915110000002");
    TextEdit& edit = chat_form().edit();
    edit.begin_input();
    type(u"copy me");
    key(Key::A, true);
    EXPECT_TRUE(edit.all_selected());
    key(static_cast<KeyCode>(Key::A + ('X' - 'A')), true);
    EXPECT_EQ(edit.text(), u"");
    EXPECT_EQ(platform::clipboard_text(), u"copy me");
    key(static_cast<KeyCode>(Key::A + ('V' - 'A')), true);
    key(static_cast<KeyCode>(Key::A + ('V' - 'A')), true);
    EXPECT_EQ(edit.text(), u"copy mecopy me");
    key(Key::A, true);
    type(u"x");
    EXPECT_EQ(edit.text(), u"x");

    chat_form().item_activated(chat_form().list(), 0);
    EXPECT_EQ(menu_names(chat_form().menu()), (std::vector<std::u16string> { u"CopyText", u"DeleteSMS", u"Forward", u"Resend", u"Cancel" }));
    chat_form().menu().open(u"CopyText", {}, false);
    EXPECT_EQ(platform::clipboard_text(), u"hello from Berta");
}

TEST_F(TypingAndLeaving, BackOnThePickerDropsTheForwardedText)
{
    start_and_wait();
    open_chat_of(u"+4915110000002");
    chat_form().item_activated(chat_form().list(), 0);
    chat_form().menu().open(u"Forward", {}, false);
    settle();
    ASSERT_EQ(stack->top(), &contacts());
    EXPECT_EQ(controller->model()->pending_text(), u"hello from Berta");
    key(Key::Esc);
    settle();
    EXPECT_EQ(controller->model()->pending_text(), u"");
    open_chat_of(u"+4915110000001");
    EXPECT_EQ(chat_form().edit().text(), u"");
}

TEST_F(TypingAndLeaving, OnlyWebAddressesAreOfferedAndTheUserHearsWhenNothingOpensThem)
{
    use_recording_opener(false);
    start_and_wait();
    open_chat_of(u"+4915110000001");
    chat_form().item_activated(chat_form().list(), 0);
    auto names = menu_names(chat_form().menu());
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), u"Visit www.example.org");
    for (auto const& name : names)
        EXPECT_EQ(name.find(u"file:"), std::u16string::npos) << to_utf8(name);
    chat_form().menu().open(names.front(), {}, false);
    EXPECT_EQ(menu_names(chat_form().menu()).front(), u"NothingOpens");
    EXPECT_TRUE(application->is_in_front());
}

TEST_F(TypingAndLeaving, TheCompanionsLinksReachTheBrowser)
{
    auto record = use_recording_opener();
    start_and_wait();
    open_chat_of(u"+4915110000001");
    chat_form().menu().open(u"ShowContact", {}, false);
    ASSERT_NE(chat_form().companion(), nullptr);
    ASSERT_EQ(stack->top(), chat_form().companion());
    settle();
    press(*chat_form().companion(), u"btnInstall");
    ASSERT_TRUE(test::wait_for_file(record));
    EXPECT_EQ(test::read_file(record), "https://pomelix.example.org/install\n");
}

TEST_F(TypingAndLeaving, TheChatSaysWhoElseTheMessageGoesTo)
{
    start_and_wait();
    open_chat_of(u"+4915110000001");
    main_form().open_contacts(true);
    settle();
    for (size_t index = 0; index < contacts().shown().size(); ++index) {
        auto const& entry = controller->model()->phone_book().entries()[contacts().shown()[index]];
        if (entry.name == u"Vogel Berta")
            contacts().item_activated(contacts().list(), static_cast<int32_t>(index));
    }
    // "Done" takes the marked recipients to the chat; a typed number has "Add" in its place.
    Element* done = contacts().find_by_id(u"btnDone");
    ASSERT_NE(done, nullptr);
    EXPECT_TRUE(done->is_visible());
    type(u"+49151777");
    EXPECT_FALSE(done->is_visible());
    EXPECT_TRUE(contacts().find_by_id(u"btnAdd")->is_visible());
    for (size_t typed = 0; typed < std::u16string(u"+49151777").size(); ++typed)
        key(Key::Backspace);
    EXPECT_TRUE(done->is_visible());
    press(contacts(), u"btnDone");
    settle();
    EXPECT_EQ(type_line(), u"Recipients: Vogel Berta");
    key(Key::Esc);
    settle();
    open_chat_of(u"+4915110000001");
    EXPECT_EQ(type_line(), u"");
}

TEST_F(TypingAndLeaving, UnsentTextStaysAsTheChatsDraft)
{
    start_and_wait();
    open_chat_of(u"+4915110000002");
    chat_form().edit().begin_input();
    type(u"half a thought");
    key(Key::Esc);
    settle();
    EXPECT_NE(store_list("drafts").find("half a thought"), std::string::npos);
    ASSERT_TRUE(pump_until([&] { return item_text(0, u"body") == u"Draft: half a thought"; }, 2500ms));
    open_chat_of(u"+4915110000002");
    EXPECT_EQ(chat_form().edit().text(), u"half a thought");
    // While it is being edited the draft stays in the store (a crash loses nothing), but not
    // in the chat's list.
    EXPECT_NE(store_list("drafts").find("half a thought"), std::string::npos);
    for (int32_t index = 0; index < chat_form().list().count(); ++index)
        EXPECT_NE(dynamic_cast<TextElement*>(chat_form().list().item(index)->find_by_id(u"body"))->text(), u"half a thought");
    // Typed and not sent when the program ends: it is there at the next start, once.
    chat_form().edit().set_text(u"the rest of it");
    TearDown();
    std::string drafts = store_list("drafts");
    EXPECT_NE(drafts.find("the rest of it"), std::string::npos);
    EXPECT_EQ(drafts.find("half a thought"), std::string::npos);
    start_and_wait();
    EXPECT_EQ(item_text(0, u"body"), u"Draft: the rest of it");
    open_chat_of(u"+4915110000002");
    EXPECT_EQ(chat_form().edit().text(), u"the rest of it");
}

// With a keyboard at hand a chat opens with the reply taking the input after its draft: typing
// goes on from there, Ctrl+A selects it, Enter sends it.
TEST_F(TypingAndLeaving, ADraftCanBeEditedSelectedAndSentAsSoonAsItsChatOpens)
{
    start_and_wait();
    open_chat_of(u"+4915110000002");
    type(u"see you");
    ASSERT_EQ(chat_form().edit().text(), u"see you");
    key(Key::Esc);
    settle();
    ASSERT_NE(store_list("drafts").find("see you"), std::string::npos);
    open_chat_of(u"+4915110000002");
    TextEdit& edit = chat_form().edit();
    ASSERT_TRUE(edit.has_input());
    EXPECT_EQ(edit.caret(), edit.text().size());
    type(u" soon");
    EXPECT_EQ(edit.text(), u"see you soon");
    key(Key::A, true);
    EXPECT_TRUE(edit.all_selected());
    key(Key::Right);
    key(Key::Enter);
    EXPECT_EQ(edit.text(), u"");
    EXPECT_NE(store_list("outbox").find("see you soon"), std::string::npos) << store_list("outbox");
}

TEST_F(TypingAndLeaving, EveryVisibleWordFollowsTheLanguageTheAlertIncluded)
{
    ASSERT_TRUE(reg_set_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Language", u"russian"));
    start_and_wait();
    press(main_form(), u"btnMenu");
    main_form().menu().open(u"About", {}, false);
    EXPECT_EQ(dynamic_cast<TextElement*>(main_form().about_panel().find_by_id(u"version"))->text().rfind(u"Версия ", 0), 0u);
    press(main_form().about_panel(), u"btnClose");
    settle();
    open_chat_of(u"+49 151 10000002");
    EXPECT_EQ(type_line(), u"мобильный");
    key(Key::Esc);
    settle();

    application->minimize();
    deliver("+4915110000003", "one");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    EXPECT_EQ(dynamic_cast<ButtonElement*>(controller->alert_form()->find_by_id(u"btnView"))->caption(), u"Открыть");
    key(Key::Esc);
    application->bring_to_front();
    settle();
    main_form().menu().open(u"Language#english", {}, false);
    ASSERT_TRUE(pump_until([&] { return stack->top() == controller->chat_list(); }));
    settle();
    application->minimize();
    deliver("+4915110000003", "two");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    EXPECT_EQ(dynamic_cast<ButtonElement*>(controller->alert_form()->find_by_id(u"btnView"))->caption(), u"View");
}

TEST_F(TypingAndLeaving, MessageModeWithAlertsOffShowsNothingAndEnds)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Alerts", 0));
    start(u"message");
    EXPECT_TRUE(application->game().quit_requested());
    EXPECT_FALSE(application->is_in_front());
    EXPECT_NE(log_text().find(u"enter_message_mode: alerts are off\n"), std::u16string::npos);
}
