// Pictures an MMS brought, in the chat and on their own screen: a tap shows one whole, zooming
// stays inside it, Back returns; "Save" copies it into the Pictures folder without overwriting,
// "Open with…" hands a copy of the picture alone to the desktop's opener; a picture that cannot
// be decoded says so in words.
#include "ControllerFixture.h"

#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "forms/FormAlert.h"
#include "forms/FormPicture.h"
#include "messaging/MmsInbox.h"
#include "platform/MessageStore.h"
#include "support/ScopedEnvironment.h"
#include "support/Wait.h"
#include "skin/BasicElements.h"
#include "skin/TextElement.h"
#include "skin/VList.h"

#include <sys/stat.h>

#include <fstream>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

std::string const landscape = VELLOQ_FIXTURES_DIR "/pictures/landscape.jpg";

class PictureMessages : public test::ControllerFixture {
protected:
    void file_picture(std::string const& path, std::u16string const& text = {}, std::string const& type = "image/jpeg")
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        ReceivedMms mms { "/service", "/service/" + std::to_string(++m_filed), u"+4915110000001", {}, text, MessageTime::now().filetime(), true, {} };
        mms.parts.push_back({ type, 0, std::filesystem::file_size(path), path });
        ASSERT_TRUE(file_received_mms(*store, mms));
    }
    FormChat& chat_form() { return controller->chat_list()->chat_form(); }
    FormPicture& viewer() { return controller->chat_list()->picture_form(); }
    ImageElement* picture_of(int32_t index)
    {
        Element* item = chat_form().list().item(index);
        return item ? dynamic_cast<ImageElement*>(item->find_by_id(u"picture")) : nullptr;
    }
    void open_chat()
    {
        start();
        ASSERT_TRUE(pump_until([&] { return started(); }));
        controller->on_other_instance_started(u"open:+4915110000001");
        ASSERT_TRUE(pump_until([&] { return stack->top() == &chat_form() && stack->transition() == nullptr; }));
    }
    void tap(Element& form, Point at)
    {
        form.pointer_button({ at.x, at.y, 0, true });
        form.pointer_button({ at.x, at.y, 0, false });
    }
    // An xdg-open first on the PATH that writes its arguments, a line each, into `record`.
    std::unique_ptr<test::ScopedEnvironment> record_opener(std::filesystem::path const& record)
    {
        auto bin = device.path() / "bin";
        std::filesystem::create_directories(bin);
        std::ofstream(bin / "xdg-open") << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << record.string() << ".part\"\nmv \""
                                         << record.string() << ".part\" \"" << record.string() << "\"\n";
        ::chmod((bin / "xdg-open").c_str(), 0755);
        std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
        return std::make_unique<test::ScopedEnvironment>("PATH", (bin.string() + ":" + old_path).c_str());
    }
    static Point middle(Element const& element) { return { element.position().x + element.size().x / 2, element.position().y + element.size().y / 2 }; }

    int m_filed { 0 };
};

}

TEST_F(PictureMessages, ATappedPictureShowsWholeZoomsWithinItselfAndBackReturnsToTheChat)
{
    file_picture(landscape, u"The view");
    open_chat();
    ASSERT_TRUE(pump_until([&] { return picture_of(0) && picture_of(0)->is_visible() && picture_of(0)->has_picture(); }));
    tap(chat_form(), middle(*picture_of(0)));
    ASSERT_EQ(stack->top(), &viewer());
    ASSERT_TRUE(pump_until([&] { return viewer().view().has_picture(); }));

    PictureView& view = viewer().view();
    Point centre = middle(view);
    view.pointer_button({ centre.x, centre.y, 1000, true });
    view.pointer_button({ centre.x, centre.y, 1010, false });
    view.pointer_button({ centre.x, centre.y, 1100, true });
    view.pointer_button({ centre.x, centre.y, 1110, false });
    EXPECT_GT(view.zoom(), 1.0);
    // Zooming never goes past its bounds, however often asked.
    for (int i = 0; i < 20; ++i)
        view.zoom_by(2.0, centre.x, centre.y);
    EXPECT_EQ(view.zoom(), PictureView::most_zoom);
    for (int i = 0; i < 20; ++i)
        view.zoom_by(0.5, 0, 0);
    EXPECT_EQ(view.zoom(), 1.0);
    // Two fingers moved apart over the picture zoom it by as much.
    stack->pinch({ centre.x, centre.y, 1200, false }, 2.0);
    EXPECT_DOUBLE_EQ(view.zoom(), 2.0);
    stack->pinch({ centre.x, centre.y, 1210, false }, 0.25);
    EXPECT_EQ(view.zoom(), 1.0);

    EXPECT_TRUE(viewer().key({ Key::Backspace, true, true }));
    EXPECT_TRUE(pump_until([&] { return stack->top() == &chat_form(); }));
}

TEST_F(PictureMessages, SavedAndOpenedCopiesHoldThePictureAloneAndNothingIsOverwritten)
{
    auto home = device.path() / "home";
    std::filesystem::create_directories(home);
    test::ScopedEnvironment home_variable("HOME", home.c_str());
    test::ScopedEnvironment config_variable("XDG_CONFIG_HOME", (home / ".config").c_str());
    auto record = device.path() / "opened";
    auto path_variable = record_opener(record);

    // The MMS service keeps a message in one file: the picture is a range of it.
    auto message_file = device.path() / "mms-file";
    std::string photo = test::read_file(landscape);
    std::ofstream(message_file, std::ios::binary) << "<smil/>" << photo << "trailing text part";
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        ReceivedMms mms { "/service", "/service/1", u"+4915110000001", {}, {}, MessageTime::now().filetime(), true, {} };
        mms.parts.push_back({ "image/jpeg", 7, photo.size(), message_file.string() });
        ASSERT_TRUE(file_received_mms(*store, mms));
    }
    open_chat();
    ASSERT_TRUE(pump_until([&] { return picture_of(0) && picture_of(0)->has_picture(); }));
    tap(chat_form(), middle(*picture_of(0)));
    ASSERT_EQ(stack->top(), &viewer());

    viewer().save();
    viewer().save();
    std::vector<std::filesystem::path> saved;
    for (auto const& entry : std::filesystem::directory_iterator(home / "Pictures"))
        saved.push_back(entry.path());
    ASSERT_EQ(saved.size(), 2u);
    for (auto const& path : saved) {
        EXPECT_EQ(path.extension(), ".jpg");
        EXPECT_EQ(test::read_file(path), photo);
    }
    EXPECT_NE(viewer().status().find(u"Pictures"), std::u16string::npos);

    viewer().open_with();
    ASSERT_TRUE(test::wait_for_file(record));
    std::string opened = test::read_file(record);
    ASSERT_FALSE(opened.empty());
    opened.pop_back();
    EXPECT_EQ(test::read_file(opened), photo);
}

TEST_F(PictureMessages, APictureThatCannotBeDecodedIsSaidInWordsAndOpensNothing)
{
    auto damaged = device.path() / "damaged.jpg";
    std::string photo = test::read_file(landscape);
    std::ofstream(damaged, std::ios::binary) << photo.substr(0, 40) << std::string(2000, '\x55');
    file_picture(damaged.string());
    open_chat();
    auto body = [&] {
        Element* item = chat_form().list().item(0);
        auto* text = item ? dynamic_cast<TextElement*>(item->find_by_id(u"body")) : nullptr;
        return text && text->is_visible() ? text->text() : std::u16string();
    };
    ASSERT_TRUE(pump_until([&] { return body() == u"Picture"; }));
    EXPECT_FALSE(picture_of(0)->is_visible());
    tap(chat_form(), middle(*chat_form().list().item(0)));
    EXPECT_NE(stack->top(), &viewer());
}

TEST_F(PictureMessages, APictureArrivingAloneIsAnnouncedAsAPictureAndCountsAsUnread)
{
    start();
    ASSERT_TRUE(pump_until([&] { return started(); }));
    application->minimize();
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        ReceivedMms mms { "/service", "/service/new", u"+4915110000001", {}, {}, MessageTime::now().filetime(), false, {} };
        mms.parts.push_back({ "image/jpeg", 0, std::filesystem::file_size(landscape), landscape });
        ASSERT_TRUE(file_received_mms(*store, mms));
    }
    ASSERT_TRUE(pump_until([&] { return alert_on_top() && controller->alert_form()->message().text() == u"Picture"; }, 5s));
    Chat* chat = controller->model()->find_chat(u"0000001");
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->unread, 1);
}

TEST_F(PictureMessages, AFileShowsAsAChipThatOpensACopyOfItAlone)
{
    auto record = device.path() / "opened";
    auto path_variable = record_opener(record);
    auto message_file = device.path() / "mms-file";
    std::string document = "%PDF-1.4\nnot much of a document\n%%EOF\n";
    std::ofstream(message_file, std::ios::binary) << "<smil/>" << document;
    {
        std::string error;
        auto store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        ReceivedMms mms { "/service", "/service/file", u"+4915110000001", {}, u"The tickets", MessageTime::now().filetime(), true, {} };
        mms.parts.push_back({ "application/pdf", 7, document.size(), message_file.string() });
        ASSERT_TRUE(file_received_mms(*store, mms));
    }
    open_chat();
    TextElement* chip = nullptr;
    ASSERT_TRUE(pump_until([&] {
        Element* item = chat_form().list().item(0);
        chip = item ? dynamic_cast<TextElement*>(item->find_by_id(u"file")) : nullptr;
        return chip && chip->is_visible();
    }));
    EXPECT_NE(chip->text().find(u"PDF"), std::u16string::npos);
    tap(chat_form(), middle(*chip));
    ASSERT_TRUE(test::wait_for_file(record));
    std::string opened = test::read_file(record);
    ASSERT_FALSE(opened.empty());
    opened.pop_back();
    EXPECT_EQ(std::filesystem::path(opened).extension(), ".pdf");
    EXPECT_EQ(test::read_file(opened), document);
    EXPECT_EQ(stack->top(), &chat_form());
}
