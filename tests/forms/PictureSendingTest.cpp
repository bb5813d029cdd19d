// Sending pictures and writing to groups: the attach button shows only while the phone's MMS
// service runs; a picked picture is copied (made smaller when it is larger than an MMS carries)
// and goes with the text as one MMS; a reply in a group goes as one MMS to all its members, and
// never as text messages, also when the MMS service is not there to send it.
#include "ControllerFixture.h"

#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "forms/FormPictures.h"
#include "forms/FormSearch.h"
#include "forms/OutgoingPicture.h"
#include "messaging/MmsInbox.h"
#include "messaging/SmsManager.h"
#include "platform/FileSystem.h"
#include "platform/JpegEncoder.h"
#include "platform/MessageStore.h"
#include "platform/Process.h"
#include "platform/PictureThumbnail.h"
#include "platform/PortalFileChooser.h"
#include "support/ChildProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/Wait.h"
#include "skin/ButtonElement.h"
#include "skin/TextElement.h"

#include <csignal>
#include <random>

using namespace velloq;

namespace {

// A photo of noise, which a JPEG cannot make small: well over what an MMS carries.
std::string noisy_photo(int width, int height)
{
    platform::RgbPicture picture { width, height, std::vector<uint8_t>(static_cast<size_t>(width) * static_cast<size_t>(height) * 3) };
    std::mt19937 random(7);
    for (auto& value : picture.rgb)
        value = static_cast<uint8_t>(random());
    std::string error;
    return platform::encode_jpeg(picture, 95, error).value_or("");
}

class PictureSending : public test::ControllerFixture {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        home = device.path() / "home";
        std::filesystem::create_directories(home / "Pictures" / "Camera");
        m_home.emplace("HOME", home.c_str());
        m_config.emplace("XDG_CONFIG_HOME", (home / ".config").c_str());
        std::string socket = (device.path() / "session_bus").string();
        m_bus_address.emplace("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str());
        m_bus = std::make_unique<test::ChildProcess>(std::vector<std::string> { "/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket });
        ASSERT_TRUE(test::wait_until([&] { return bus_call({ "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetId" }).has_value(); }));
        file_group_message();
    }
    void TearDown() override
    {
        ControllerFixture::TearDown();
        for (auto* process : { m_portal.get(), m_mms.get(), m_bus.get() }) {
            if (process) {
                process->signal(SIGTERM);
                process->wait();
            }
        }
        m_bus_address.reset();
        m_config.reset();
        m_home.reset();
    }
    static std::optional<std::string> bus_call(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), { "gdbus", "call", "--session" });
        return platform::read_program_output(arguments, 5000);
    }
    void start_portal()
    {
        m_portal = std::make_unique<test::ChildProcess>(std::vector<std::string> { "/usr/bin/python3", "-m", "dbusmock", "--template", VELLOQ_FIXTURES_DIR "/portal/mock_file_chooser.py" });
        ASSERT_TRUE(test::wait_until([&] { return portal_mock("Asked", {}).has_value(); }));
    }
    static std::optional<std::string> portal_mock(std::string const& method, std::vector<std::string> arguments)
    {
        std::vector<std::string> call { "--dest", "org.freedesktop.portal.Desktop", "--object-path", "/org/freedesktop/portal/desktop", "--method",
            "org.freedesktop.DBus.Mock." + method };
        call.insert(call.end(), arguments.begin(), arguments.end());
        return bus_call(call);
    }
    void start_mms_service()
    {
        m_mms = std::make_unique<test::ChildProcess>(std::vector<std::string> { "/usr/bin/python3", "-m", "dbusmock", "--template", VELLOQ_FIXTURES_DIR "/modem/mock_mmsd.py" });
        ASSERT_TRUE(test::wait_until([&] { return bus_call({ "--dest", "org.ofono.mms", "--object-path", "/org/ofono/mms", "--method", "org.ofono.mms.Manager.GetServices" }).has_value(); }));
    }
    // A message from Anna to the user, Ben and a bare number: the group's chat.
    void file_group_message()
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        ReceivedMms mms { "/service", "/service/1", u"+4915110000001", { u"+4915110000002", u"+4915110000003" }, u"Dinner on Friday?",
            MessageTime::now().filetime(), true, {} };
        ASSERT_TRUE(file_received_mms(*store, mms));
    }
    void open_group_chat()
    {
        start();
        ASSERT_TRUE(pump_until([&] { return started(); }));
        FormMain* list = controller->chat_list();
        ASSERT_TRUE(pump_until([&] { return list->list().count() == 1; }));
        list->item_activated(list->list(), 0);
        ASSERT_TRUE(pump_until([&] { return stack->top() == &chat_form() && stack->transition() == nullptr; }));
        ASSERT_TRUE(chat_form().chat() && chat_form().chat()->is_group());
    }
    FormChat& chat_form() { return controller->chat_list()->chat_form(); }
    FormPictures& picker() { return controller->chat_list()->pictures_form(); }
    Element& element(char16_t const* id) { return *chat_form().find_by_id(id); }
    std::u16string bar_text() { return dynamic_cast<TextElement&>(element(u"attachment")).text(); }
    std::vector<MessageRecord> outbox()
    {
        SmsManager manager;
        std::vector<MessageRecord> records;
        for (int32_t index = 0; index < manager.get_length(FolderKind::Outbox); ++index) {
            MessageRecord record;
            if (manager.read_sms(manager.get_id(FolderKind::Outbox, index), record))
                records.push_back(record);
        }
        return records;
    }

    std::filesystem::path home;
    std::optional<test::ScopedEnvironment> m_home;
    std::optional<test::ScopedEnvironment> m_config;
    std::optional<test::ScopedEnvironment> m_bus_address;
    std::unique_ptr<test::ChildProcess> m_bus;
    std::unique_ptr<test::ChildProcess> m_mms;
    std::unique_ptr<test::ChildProcess> m_portal;
};

}

TEST_F(PictureSending, APickedPictureGoesSmallEnoughWithTheTextAsOneMmsToTheWholeGroup)
{
    std::string large = noisy_photo(1200, 900);
    ASSERT_GT(large.size(), mms_picture_limit);
    test::write_file(home / "Pictures" / "Camera" / "dinner.jpg", large);
    test::write_file(home / "Pictures" / "notes.txt", "not a picture");
    start_mms_service();
    open_group_chat();
    ASSERT_TRUE(element(u"btnAttach").is_visible());

    dynamic_cast<ButtonElement&>(element(u"btnAttach")).on_press();
    ASSERT_EQ(stack->top(), &picker());
    ASSERT_EQ(picker().pictures().size(), 1u);
    picker().item_activated(picker().list(), 0);
    ASSERT_EQ(stack->top(), &chat_form());
    ASSERT_TRUE(element(u"attachment_bar").is_visible());
    EXPECT_NE(bar_text().find(u"dinner.jpg"), std::u16string::npos);

    chat_form().edit().set_text(u"Here is the place");
    dynamic_cast<ButtonElement&>(element(u"btnSend")).on_press();
    auto waiting = outbox();
    ASSERT_EQ(waiting.size(), 1u);
    MessageRecord const& sent = waiting.front();
    EXPECT_TRUE(sent.is_mms);
    EXPECT_EQ(sent.text, u"Here is the place");
    ASSERT_EQ(sent.recipients.size(), 3u) << "everyone in the group but the user";
    EXPECT_EQ(chat_key_of(sent), chat_form().chat()->key);
    ASSERT_EQ(sent.parts.size(), 1u);
    std::string copy = test::read_file(sent.parts[0].file);
    EXPECT_EQ(sent.parts[0].content_type, "image/jpeg");
    EXPECT_EQ(copy.size(), sent.parts[0].length);
    EXPECT_LE(copy.size(), mms_picture_limit);
    std::string error;
    auto decoded = platform::decode_thumbnail(copy, 4000, 4000, error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->width * 3, decoded->height * 4) << "the picture keeps its proportions";
    EXPECT_FALSE(element(u"attachment_bar").is_visible());
    EXPECT_TRUE(chat_form().edit().text().empty());

    // A reply in words alone goes to the group as an MMS too.
    chat_form().edit().set_text(u"See you");
    dynamic_cast<ButtonElement&>(element(u"btnSend")).on_press();
    waiting = outbox();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_TRUE(waiting.back().is_mms);
    EXPECT_EQ(waiting.back().recipients.size(), 3u);
    EXPECT_TRUE(waiting.back().parts.empty());
}

TEST_F(PictureSending, WithoutTheMmsServiceThereIsNoAttachButtonAndAGroupReplyWaitsInTheEdit)
{
    open_group_chat();
    EXPECT_FALSE(element(u"btnAttach").is_visible());
    chat_form().edit().set_text(u"See you");
    dynamic_cast<ButtonElement&>(element(u"btnSend")).on_press();
    EXPECT_TRUE(outbox().empty()) << "a group's message never goes as text messages";
    EXPECT_EQ(chat_form().edit().text(), u"See you");
    ASSERT_TRUE(element(u"attachment_bar").is_visible());
    EXPECT_NE(bar_text().find(u"mmsd-tng"), std::u16string::npos);
}

TEST_F(PictureSending, TheDesktopsFileChooserPicksThePictureWhereItsPortalRuns)
{
    auto shared = home / "Shared photos";
    std::filesystem::create_directories(shared);
    test::write_file(shared / "a b%.png", test::read_file(VELLOQ_FIXTURES_DIR "/pictures/photo.png"));
    start_mms_service();
    start_portal();
    ASSERT_TRUE(portal_mock("Choose", { "file://" + shared.string() + "/a%20b%25.png" }));
    open_group_chat();
    dynamic_cast<ButtonElement&>(element(u"btnAttach")).on_press();
    ASSERT_TRUE(pump_until([&] { return element(u"attachment_bar").is_visible(); }));
    EXPECT_EQ(stack->top(), &chat_form()) << "the skin's own picker stays closed";
    EXPECT_NE(bar_text().find(u"a b%.png"), std::u16string::npos);
    auto asked = portal_mock("Asked", {});
    ASSERT_TRUE(asked);
    EXPECT_NE(asked->find("Pictures"), std::string::npos);
    EXPECT_NE(asked->find("image/jpeg"), std::string::npos);
}

// Search finds a group's message and opens the group's chat; deleting the chat deletes the
// group's messages and leaves the sender's own chat as it was.
TEST_F(PictureSending, AGroupChatIsFoundAndDeletedAsAnyChat)
{
    deliver("+4915110000001", "Just to you");
    start_and_settle();
    application->text_input(u"d");
    application->text_input(u"i");
    application->text_input(u"n");
    settle_search();
    FormMain& main_form = *controller->chat_list();
    ASSERT_NE(main_form.search_form(), nullptr);
    ASSERT_EQ(main_form.search_form()->results().size(), 1u);
    main_form.search_form()->item_activated(main_form.search_form()->list(), 0);
    ASSERT_TRUE(pump_until([&] { return stack->top() == &chat_form() && stack->transition() == nullptr; }));
    ASSERT_TRUE(chat_form().chat() && chat_form().chat()->is_group());
    auto const& book = controller->model()->phone_book().entries();
    std::u16string key = chat_form().chat()->key;
    EXPECT_EQ(std::count_if(book.begin(), book.end(), [&](PhoneEntry const& entry) { return entry.key == key; }), 0) << "a group is no recipient to pick";

    chat_form().menu().open(u"Chat", {}, true);
    chat_form().menu().open(u"DeleteChat", {}, false);
    chat_form().menu().open(u"ReallyDeleteChat", {}, false);
    EXPECT_TRUE(pump_until([&] { return stack->top() == main_form.search_form(); })) << "back where the chat was opened from";
    ASSERT_EQ(controller->model()->chats().size(), 1u);
    EXPECT_EQ(controller->model()->chats().front()->key, u"0000001");
    SmsManager manager;
    EXPECT_EQ(manager.get_length(FolderKind::Incoming), 1);
}

TEST(FileUri, OnlyAFileUriOfThisDeviceNamesAPath)
{
    EXPECT_EQ(platform::path_of_file_uri("file:///home/u/My%20Photos/a%25b.jpg"), "/home/u/My Photos/a%b.jpg");
    EXPECT_EQ(platform::path_of_file_uri("file:///tmp/100%"), "/tmp/100%");
    EXPECT_EQ(platform::path_of_file_uri("file://server/share/a.jpg"), "");
    EXPECT_EQ(platform::path_of_file_uri("https://example.org/a.jpg"), "");
    EXPECT_EQ(platform::path_of_file_uri("file:///tmp/a%00b.jpg"), "");
}

TEST(OutgoingPicture, ASmallPictureGoesAsItIsAndWhatIsNoPictureIsRefused)
{
    test::TempDevice device;
    std::string error;
    auto small = prepare_outgoing_picture(VELLOQ_FIXTURES_DIR "/pictures/photo.png", device.path().string(), "MMS", error);
    ASSERT_TRUE(small) << error;
    EXPECT_EQ(small->content_type, "image/png");
    EXPECT_EQ(test::read_file(small->file), test::read_file(VELLOQ_FIXTURES_DIR "/pictures/photo.png"));
    auto second = prepare_outgoing_picture(VELLOQ_FIXTURES_DIR "/pictures/photo.png", device.path().string(), "MMS", error);
    ASSERT_TRUE(second);
    EXPECT_NE(second->file, small->file) << "nothing is overwritten";
    test::write_file(device.path() / "fake.jpg", "GIF89a but truncated");
    EXPECT_FALSE(prepare_outgoing_picture((device.path() / "fake.jpg").string(), device.path().string(), "MMS", error));
    test::write_file(device.path() / "text.jpg", "hello");
    EXPECT_FALSE(prepare_outgoing_picture((device.path() / "text.jpg").string(), device.path().string(), "MMS", error));
    EXPECT_FALSE(error.empty());
}
