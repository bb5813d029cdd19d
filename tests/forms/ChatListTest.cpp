#include "ControllerFixture.h"

#include "../../tools/velloq-sms/SmsCommand.h"
#include "forms/FormChat.h"
#include "messaging/MmsInbox.h"
#include "platform/Utf.h"
#include "skin/TextElement.h"
#include "support/ChildProcess.h"

#include <set>
#include <sstream>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

class ChatList : public test::ControllerFixture {
protected:
    void start_and_wait()
    {
        start();
        ASSERT_TRUE(pump_until([&] { return started(); }));
        pump_for(30ms);
    }
    void delete_from_store(MessageRecord const& message)
    {
        std::ostringstream out, err;
        ASSERT_EQ(tools::run_sms_command({ "delete", message.id.hex() }, out, err), tools::SmsExit::Ok) << err.str();
    }
    FormMain& form() { return *controller->chat_list(); }
};

TEST_F(ChatList, AChatWhoseMessagesAllVanishedLeavesTheListWhenItsItemIsMade)
{
    deliver("+4915120000001", "gone soon");
    deliver("+4915120000002", "stays");
    start_and_wait();
    Chat* doomed = controller->model()->find_chat(u"0000001");
    ASSERT_NE(doomed, nullptr);
    delete_from_store(doomed->messages.back());
    form().list().reset(static_cast<int32_t>(controller->model()->chats().size()));
    pump_for(50ms);
    EXPECT_EQ(controller->model()->find_chat(u"0000001"), nullptr);
    ASSERT_EQ(controller->model()->chats().size(), 1u);
    EXPECT_EQ(form().list().count(), 1);
    EXPECT_EQ(item_text(0, u"body"), u"stays");
    EXPECT_EQ(form().list().item(1), nullptr);
}

TEST_F(ChatList, AVanishedNewestMessageLeavesTheOlderOneShown)
{
    deliver("+4915120000001", "older");
    deliver("+4915120000001", "newest");
    start_and_wait();
    Chat* chat = controller->model()->find_chat(u"0000001");
    // The chat holds its newest message alone; the older one comes from the store when it goes.
    ASSERT_EQ(chat->messages.size(), 1u);
    delete_from_store(chat->messages.back());
    form().list().reset(1);
    pump_for(50ms);
    EXPECT_EQ(chat->messages.size(), 1u);
    EXPECT_EQ(item_text(0, u"body"), u"older");
}

// A read chat hides the count; its mark is the state of the user's own last message, and there
// is none where the other party had the last word.
TEST_F(ChatList, AReadChatShowsNoUnreadAndHidesTheCount)
{
    deliver("+4915120000001", "hello");
    start_and_wait();
    EXPECT_TRUE(item_shows(0, u"unread_exists"));
    form().item_activated(form().list(), 0);
    pump_for(30ms);
    EXPECT_EQ(controller->model()->chats().front()->unread, 0);
    EXPECT_FALSE(item_shows(0, u"no_unread"));
    EXPECT_FALSE(item_shows(0, u"unread"));
    EXPECT_FALSE(item_shows(0, u"unread_exists"));
    int32_t unread = -1;
    EXPECT_TRUE(reg_get_int(u"HKEY_CURRENT_USER\\Software\\Ketra\\Velloq", u"Unread", unread));
    EXPECT_EQ(unread, 0);
}

TEST_F(ChatList, PickFromWithinAChatBecomesThePendingText)
{
    deliver("+4915120000001", "hello");
    start_and_wait();
    ChatModel& model = *controller->model();
    model.set_current_chat_key(u"0000001");
    // The chat form takes the pending text into its edit at once.
    TextEdit& edit = form().chat_form().edit();
    form().pick({ u"Anna Berg", u"+49 170 1234567", u"mobile", u"1234567", 3, 0 });
    EXPECT_EQ(edit.text(), u"Anna Berg +49 170 1234567");
    edit.set_text({});
    form().pick({ u"+49 170 1234567", u"+49 170 1234567", {}, u"1234567", -1, 0 });
    EXPECT_EQ(edit.text(), u"+49 170 1234567");
    // What was typed stays; the picked one follows on its own line.
    edit.set_text(u"Call");
    form().pick({ u"Bob", {}, {}, u"Bob", -1, 0 });
    EXPECT_EQ(edit.text(), u"Call\nBob");
    EXPECT_EQ(model.pending_text(), u"");
    EXPECT_EQ(form().list().count(), 1);
}

TEST_F(ChatList, PickWithoutACurrentChatOpensTheChatOfTheEntry)
{
    deliver("+4915120000001", "hello");
    start_and_wait();
    form().pick({ u"Anna Berg", u"+49 170 1234567", u"mobile", u"1234567", 3, 0 });
    EXPECT_EQ(form().list().count(), 2);
    EXPECT_EQ(controller->model()->chats().front()->name, u"Anna Berg");
    EXPECT_EQ(controller->model()->current_chat_key(), u"1234567");
}

TEST_F(ChatList, TheAlertNamesTheSenderOnlyFromTheMainPhonesOfAContact)
{
    write_contact("work2.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Zweit;Wera;;;\r\nTEL;TYPE=WORK:+49 30 5550001\r\nTEL;TYPE=WORK:+49 151 3000001\r\nEND:VCARD\r\n");
    write_contact("home.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Heim;Hanna;;;\r\nTEL;TYPE=HOME:8 (030) 3000002\r\nEND:VCARD\r\n");
    deliver("+4915120000001", "hello");
    start_and_wait();
    application->minimize();
    deliver("+49 151 3000001", "from a second work phone");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    EXPECT_EQ(controller->alert_form()->title().text(), u"+49 151 3000001");

    application->minimize();
    deliver("+7 999 3000002", "same last seven digits", "Sender Name");
    ASSERT_TRUE(pump_until([&] { return controller->alert_form()->message().text() == u"same last seven digits"; }, 2500ms));
    EXPECT_EQ(controller->alert_form()->title().text(), u"Heim Hanna");
    EXPECT_EQ(controller->alert_form()->view_action(), u"open:+7 999 3000002");
}

TEST_F(ChatList, TheAlertWithoutAContactShowsTheSendersOwnName)
{
    deliver("+4915120000001", "hello");
    start_and_wait();
    application->minimize();
    deliver("+4915120000009", "hi", "Bank");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    EXPECT_EQ(controller->alert_form()->title().text(), u"Bank");
}

}

TEST_F(ChatList, AStartFromTheCacheShowsItsChatsAtOnceThenWhatCameMeanwhileAndTheContactsNames)
{
    deliver("+4915120000001", "before");
    start_and_wait();
    TearDown();
    // While the program was not running: a message from a new number, and a contact for it.
    deliver("+4915120000002", "meanwhile");
    write_contact("new.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Neu;Nora;;;\r\nTEL;TYPE=CELL:+49 151 20000002\r\nEND:VCARD\r\n");
    start_and_wait();
    bool settled = pump_until([&] { return form().list().count() == 2 && item_text(0, u"title") == u"Neu Nora"; }, 5s);
    ASSERT_TRUE(settled) << form().list().count() << " " << to_utf8(item_text(0, u"title")) << " " << to_utf8(item_text(0, u"body"));
    EXPECT_EQ(item_text(0, u"body"), u"meanwhile");
    EXPECT_EQ(item_text(1, u"body"), u"before");
    // The list came first; the store's scan and the contacts right after it.
    std::u16string log = log_text();
    size_t shown = log.rfind(u"start time2:");
    ASSERT_NE(shown, std::u16string::npos);
    EXPECT_NE(log.find(u"update_chats time:", shown), std::u16string::npos);
    EXPECT_NE(log.find(u"load_contacts time:", shown), std::u16string::npos);
}

TEST_F(ChatList, MessagesThatCannotBeReadAreSaidSoOnTheScreenAndByTheTool)
{
    // Where the store should be, something that is none (a damaged or unreadable device folder).
    std::filesystem::create_directories(device.path() / "messages.db");
    start_and_wait();
    auto* empty = dynamic_cast<TextElement*>(form().find_by_id(u"empty"));
    ASSERT_NE(empty, nullptr);
    ASSERT_TRUE(pump_until([&] { return empty->text().starts_with(u"The messages cannot be read:\n"); }, 5s)) << to_utf8(empty->text());
    EXPECT_TRUE(empty->is_effectively_visible());

    test::ChildProcess tool({ VELLOQ_PROGRAM_DIR "/velloq-chats" }, test::headless_environment(device.path().string()));
    EXPECT_EQ(tool.wait(), 1);
}

TEST_F(ChatList, AReadOnlyDeviceFolderIsNoEmptyOne)
{
    deliver("+4915120000001", "hello");
    // Another user's device folder, readable but not writable for the tool run as nobody.
    std::filesystem::permissions(device.path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read | std::filesystem::perms::group_exec
            | std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    test::ChildProcess tool({ "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", VELLOQ_PROGRAM_DIR "/velloq-chats" },
        { "VELLOQ_DEVICE=" + device.path().string(), "HOME=/tmp", "ASAN_OPTIONS=detect_leaks=0" });
    EXPECT_EQ(tool.wait(), 1);
}

// A contact's photo is its chat's avatar in the frame, in place of the initials; a contact
// without one keeps them. A new photo in the card shows while the program runs.
TEST_F(ChatList, AContactsPhotoIsItsChatsAvatar)
{
    auto photo = device.path() / "photo.jpg";
    std::filesystem::copy_file(VELLOQ_FIXTURES_DIR "/pictures/photo.jpg", photo);
    deliver("+4915120000001", "with photo");
    deliver("+4915120000002", "without");
    write_contact("a.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Pia Photo\r\nTEL;TYPE=CELL:+49 151 20000001\r\nPHOTO;VALUE=uri:file://" + photo.string() + "\r\nEND:VCARD\r\n");
    write_contact("b.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Nils None\r\nTEL;TYPE=CELL:+49 151 20000002\r\nEND:VCARD\r\n");
    start_and_wait();
    ASSERT_TRUE(pump_until([&] { return item_text(0, u"title") == u"Nils None" && item_text(1, u"title") == u"Pia Photo"; }));
    auto photo_pixels = [&] {
        auto frame = Bitmap565::create(480, 800);
        application->draw(*frame);
        int count = 0;
        for (int y = 0; y < frame->height(); ++y) {
            for (int x = 0; x < frame->width(); ++x) {
                uint16_t pixel = frame->row(y)[x];
                int r = (pixel >> 11) << 3, g = ((pixel >> 5) & 63) << 2, b = (pixel & 31) << 3;
                count += std::abs(r - 0x1E) <= 12 && std::abs(g - 0x40) <= 12 && std::abs(b - 0xAF) <= 12;
            }
        }
        return count;
    };
    EXPECT_TRUE(item_shows(1, u"photo"));
    EXPECT_FALSE(item_shows(1, u"initials"));
    EXPECT_FALSE(item_shows(0, u"photo"));
    EXPECT_EQ(item_text(0, u"initials"), u"NN");
    // A 44-point circle at 480×800 covers some 1,500 pixels.
    EXPECT_GT(photo_pixels(), 1000);
    std::filesystem::copy_file(photo, device.path() / "photo2.jpg");
    write_contact("b.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Nils None\r\nTEL;TYPE=CELL:+49 151 20000002\r\nPHOTO;VALUE=uri:file://" + (device.path() / "photo2.jpg").string() + "\r\nEND:VCARD\r\n");
    EXPECT_TRUE(pump_until([&] { return item_shows(0, u"photo"); }));
    EXPECT_GT(photo_pixels(), 2000);
}

TEST_F(ChatList, AChatWhoseLastWordIsTheUsersShowsHowFarItGot)
{
    deliver("+4915120000001", "hello");
    std::ostringstream out, err;
    ASSERT_EQ(tools::run_sms_command({ "send", "--to", "+4915120000001", "on my way" }, out, err), tools::SmsExit::Ok) << err.str();
    deliver("+4915120000002", "other");
    start_and_wait();
    form().item_activated(form().list(), 1);
    pump_for(30ms);
    ASSERT_EQ(item_text(1, u"body"), u"on my way");
    EXPECT_TRUE(item_shows(1, u"no_unread"));
    EXPECT_EQ(item_text(1, u"no_unread"), u"…");
}

// A long name keeps its room: the phone's label beside it shrinks to what is left, with "…" (its
// box narrower than its text), or goes; a short name leaves the label whole.
TEST_F(ChatList, ALongNameKeepsItsRoomAndThePhonesLabelShrinksOrGoes)
{
    deliver("+4915120000001", "long");
    deliver("+4915120000002", "short");
    write_contact("a.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Maximiliane Hohenzollernova-Berg\r\nTEL;TYPE=WORK:+49 151 20000001\r\nEND:VCARD\r\n");
    write_contact("b.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bo\r\nTEL;TYPE=WORK:+49 151 20000002\r\nEND:VCARD\r\n");
    start_and_wait();
    ASSERT_TRUE(pump_until([&] { return item_text(0, u"title") == u"Bo" && item_text(1, u"title") == u"Maximiliane Hohenzollernova-Berg"; }));
    auto element = [&](int32_t index, std::u16string_view id) { return dynamic_cast<TextElement*>(form().list().item(index)->find_by_id(id)); };
    // Laid out for the texts they were filled with.
    ASSERT_TRUE(pump_until([&] { return !element(1, u"title")->layout_pending() && element(1, u"title")->size().x > 0; }));
    auto* long_title = element(1, u"title");
    auto* long_type = element(1, u"type");
    EXPECT_GE(long_title->size().x, long_title->font()->measure(long_title->text()));
    EXPECT_TRUE(!long_type->is_visible() || long_type->size().x < long_type->font()->measure(long_type->text()));
    auto* short_type = element(0, u"type");
    EXPECT_TRUE(short_type->is_visible());
    EXPECT_GE(short_type->size().x, short_type->font()->measure(short_type->text()));
    // Nothing of the line overlaps: the name ends before the label, the label before the date.
    auto* day = element(1, u"day");
    int32_t day_left = day->position().x + day->size().x - day->font()->measure(day->text());
    EXPECT_LE(long_title->position().x + long_title->font()->measure(long_title->text()), day_left);
}

TEST_F(ChatList, AnMmsWithoutTextSaysWhatItCarries)
{
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    ASSERT_NE(store, nullptr) << error;
    ReceivedMms picture { "/service", "/service/1", u"+4915120000001", {}, {}, 1, false, { { "image/jpeg", 0, 10, "/nowhere/picture" } } };
    ReceivedMms file { "/service", "/service/2", u"+4915120000002", {}, {}, 2, false, { { "application/pdf", 0, 10, "/nowhere/file" } } };
    ReceivedMms both { "/service", "/service/3", u"+4915120000003", {}, u"See the picture", 3, false, picture.parts };
    for (auto const* mms : { &picture, &file, &both })
        ASSERT_TRUE(file_received_mms(*store, *mms));
    start();
    ASSERT_TRUE(pump_until([&] { return started() && form().list().count() == 3; }));
    std::set<std::u16string> bodies;
    for (int32_t index = 0; index < 3; ++index)
        bodies.insert(item_text(index, u"body"));
    EXPECT_EQ(bodies, (std::set<std::u16string> { u"Picture", u"Attachment", u"See the picture" }));
}
