#include "ControllerFixture.h"
#include "EdsSession.h"

#include "forms/FormChat.h"
#include "forms/FormContacts.h"
#include "forms/FormMain.h"
#include "skin/TextElement.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

// The program on screen (in memory), with the contacts service and Evolution Data Server beside
// it, as on a Phosh phone.
class ContactsOnScreen : public test::ControllerFixture {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        if (!test::eds_installed())
            GTEST_SKIP() << "Evolution Data Server is not installed (scripts/bootstrap.sh installs it)";
        eds = std::make_unique<test::EdsSession>(device.path() / "eds");
        ASSERT_TRUE(eds->running());
        auto environment = eds->environment();
        environment.push_back("VELLOQ_DEVICE=" + device.path().string());
        service = std::make_unique<test::ChildProcess>(std::vector<std::string> { VELLOQ_PROGRAM_DIR "/velloq-contacts" }, environment);
    }
    void TearDown() override
    {
        if (service) {
            service->signal(SIGTERM);
            EXPECT_EQ(service->wait(), 0);
        }
        ControllerFixture::TearDown();
        eds.reset();
    }
    FormMain& main_form() { return *controller->chat_list(); }
    std::u16string text_of(Element& form, std::u16string_view id)
    {
        auto* text = dynamic_cast<TextElement*>(form.find_by_id(id));
        return text ? text->text() : u"<none>";
    }
    // The picker's entry for the number's chat, by its title.
    bool picker_lists(std::u16string const& name)
    {
        FormContacts& picker = main_form().contacts_form();
        for (int32_t index = 0; index < picker.list().count(); ++index) {
            Element* item = picker.list().item(index);
            if (item && text_of(*item, u"title") == name)
                return true;
        }
        return false;
    }
    // How long a change, once the address book has it, took to reach the screen.
    void note_seconds(char const* what, std::chrono::steady_clock::time_point changed)
    {
        RecordProperty(what, std::to_string(std::chrono::duration<double>(std::chrono::steady_clock::now() - changed).count()));
    }

    std::unique_ptr<test::EdsSession> eds;
    std::unique_ptr<test::ChildProcess> service;
};

}

// What GNOME Contacts does shows in the chat list, the open chat's title and the picker: a
// contact added, renamed, given a photo, and deleted.
TEST_F(ContactsOnScreen, ContactsChangedInTheAddressBookShowWhereTheChatIs)
{
    deliver("+4915112345678", "Hallo");
    start_and_settle();
    ASSERT_EQ(item_text(0, u"title"), u"+4915112345678");
    ASSERT_TRUE(eds->change({ "add", "system", "anna", "Анна Schmidt", "+49 151 12345678" }));
    auto changed = std::chrono::steady_clock::now();
    EXPECT_TRUE(pump_until([&] { return item_text(0, u"title") == u"Анна Schmidt"; }, 30s));
    note_seconds("seconds_to_list_after_add", changed);
    controller->on_other_instance_started(u"open:+4915112345678");
    ASSERT_EQ(stack->top(), &main_form().chat_form());
    ASSERT_TRUE(eds->change({ "rename", "system", "anna", "Anna Müller" }));
    changed = std::chrono::steady_clock::now();
    EXPECT_TRUE(pump_until([&] { return text_of(main_form().chat_form(), u"title") == u"Anna Müller"; }, 30s));
    note_seconds("seconds_to_chat_title_after_rename", changed);
    EXPECT_EQ(item_text(0, u"title"), u"Anna Müller");
    // A photo given in GNOME Contacts is the chat's avatar; EDS keeps it as a file.
    ASSERT_TRUE(eds->change({ "photo", "system", "anna", VELLOQ_FIXTURES_DIR "/pictures/photo.jpg" }));
    EXPECT_TRUE(pump_until([&] { return item_shows(0, u"photo") && !item_shows(0, u"initials"); }, 30s));
    main_form().open_contacts(false);
    EXPECT_TRUE(pump_until([&] { return picker_lists(u"Anna Müller"); }, 30s));
    // Deleted, the contact no longer stands behind the number: the chat keeps the name it had
    // (as with any contact deleted while the program runs), now the chat's own, without a label.
    ASSERT_TRUE(eds->change({ "remove", "system", "anna" }));
    EXPECT_TRUE(pump_until([&] {
        PhoneEntry const* entry = controller->model()->phone_book().find(u"2345678");
        return entry && entry->label.empty();
    }, 30s));
    EXPECT_EQ(text_of(main_form().chat_form(), u"title"), u"Anna Müller");
}
