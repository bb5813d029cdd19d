// The program's screens drawn headless from fixed data and compared with committed pictures in
// tests/fixtures/screens/<screen>/<name>.png, so a change of look shows as a failing test with
// the new picture kept in the temporary folder (its path in the failure). `scripts/update-screens.sh`
// (VELLOQ_UPDATE_SCREENS=1) writes them anew. Every text drawn must also stand out from what is
// under it by 4.5:1 at least.
#include "ControllerFixture.h"
#include "support/ScopedEnvironment.h"
#include "support/PngPicture.h"

#include "forms/FormContacts.h"
#include "forms/FormMain.h"
#include "forms/FormPicture.h"
#include "forms/FormSearch.h"
#include "forms/FormTemplates.h"
#include "messaging/MmsInbox.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"
#include "platform/PngFile.h"
#include "skin/TextElement.h"
#include "skin/VList.h"

#include <cstdlib>
#include <map>
#include <optional>

using namespace velloq;
using namespace std::chrono_literals;
namespace Tag = platform::Tag;

namespace {

struct ScreenshotSize {
    char const* folder;
    char const* setting;
};

int64_t filetime_of(int64_t unix_seconds)
{
    return MessageTime::from_unix_milliseconds(unix_seconds * 1000).filetime();
}

class Screenshots : public test::ControllerFixture, public testing::WithParamInterface<ScreenshotSize> {
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        m_screen.emplace("VELLOQ_SCREEN", GetParam().setting);
        m_zone.emplace("TZ", "UTC");
        m_locale.emplace("LC_ALL", "en_US.UTF-8");
        write_contact("people.vcf",
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\nTEL;TYPE=CELL:+49 170 1234567\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Haddad;Ben;;;\r\nTEL;TYPE=WORK:+49 151 2007919\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Иванова;Ирина;;;\r\nTEL;TYPE=HOME:+7 912 3000004\r\nEND:VCARD\r\n");
        fill_store();
    }
    void TearDown() override
    {
        ControllerFixture::TearDown();
        m_locale.reset();
        m_zone.reset();
        m_screen.reset();
    }

    // Writes messages into the device's store as the modem and the user would have.
    class StoreWriter {
    public:
        StoreWriter()
        {
            std::string error;
            m_store = platform::MessageStore::open_device(error);
            EXPECT_NE(m_store, nullptr) << error;
            if (m_store)
                m_sms = m_store->stores()->front().entry_id;
        }
        void received(std::u16string from, std::u16string text, int64_t at, bool read)
        {
            platform::StoredMessage message;
            message.properties = { { Tag::Subject, text }, { Tag::MessageFlags, int64_t(read ? 1 : 0) }, { Tag::DeliveryTime, filetime_of(at) },
                { Tag::SenderName, std::u16string() }, { Tag::SenderAddress, from }, { Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
            ASSERT_TRUE(m_store && m_store->create_message(folder(Tag::InboxEntryId), message, false));
        }
        void mine(uint32_t tag, std::u16string to, std::u16string text, int64_t at)
        {
            platform::StoredMessage message;
            message.properties = { { Tag::Subject, text }, { Tag::MessageFlags, int64_t(0x21) }, { Tag::DeliveryTime, filetime_of(at) } };
            message.recipients.push_back({ { Tag::DisplayName, std::u16string() }, { Tag::EmailAddress, to } });
            ASSERT_TRUE(m_store && m_store->create_message(folder(tag), message, false));
        }

        void picture(std::u16string from, std::u16string text, int64_t at, std::string path, std::string type = "image/jpeg",
            std::vector<std::u16string> members = {})
        {
            ReceivedMms mms { "/service", "/service/" + std::to_string(at), from, std::move(members), text, filetime_of(at), true, {} };
            if (!path.empty())
                mms.parts.push_back({ type, 0, std::filesystem::file_size(path), path });
            ASSERT_TRUE(m_store && file_received_mms(*m_store, mms));
        }

    private:
        platform::Bytes folder(uint32_t tag) { return *m_store->store_property(m_sms, tag); }

        std::unique_ptr<platform::MessageStore> m_store;
        platform::Bytes m_sms;
    };

    // A chat with Anna over two days (received, sent with a link, a draft), and chats with Ben,
    // Irina and a bare number.
    void fill_store()
    {
        StoreWriter store;
        int64_t day = 1'748'736'000; // 2025-06-01 00:00 UTC
        store.received(u"+49 151 2007919", u"Happy birthday! \U0001F382\U0001F389", day + 9 * 3600, true);
        store.received(u"+79123000004", u"Привет! Позвони, когда сможешь.", day + 10 * 3600, false);
        store.received(u"+4915199999999", u"Your code is 482913", day + 11 * 3600, true);
        store.received(u"+491701234567", u"Are we still on for tonight?", day + 18 * 3600, true);
        store.mine(Tag::SentEntryId, u"+491701234567", u"Yes! Meet at https://example.org/place at 8", day + 18 * 3600 + 300);
        store.received(u"+491701234567", u"Great, see you there \U0001F44D", day + 86400 + 9 * 3600, false);
        store.mine(Tag::DraftsEntryId, u"+491701234567", u"Running a bit late", day + 86400 + 10 * 3600);
    }

    // Chats in the world's scripts, newer than the others: Arabic, Hebrew, Hindi, Thai, Chinese
    // and Japanese names and texts, lines of both directions, and emoji sequences.
    void fill_world()
    {
        write_contact("world.vcf",
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:أحمد منصور\r\nTEL:+20 100 5550101\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:דנה לוי\r\nTEL:+972 50 5550102\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:प्रिया शर्मा\r\nTEL:+91 98 55500103\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:สมชาย ใจดี\r\nTEL:+66 81 5550104\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:王伟\r\nTEL:+86 138 55500105\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:佐藤さくら\r\nTEL:+81 90 55500106\r\nEND:VCARD\r\n");
        StoreWriter store;
        int64_t at = 1'748'736'000 + 3 * 86400;
        auto received = [&](std::u16string from, std::u16string text) { store.received(std::move(from), std::move(text), at += 60, true); };
        auto mine = [&](std::u16string to, std::u16string text) { store.mine(Tag::SentEntryId, std::move(to), std::move(text), at += 60); };
        received(u"+8113855500106", u"こんにちは、元気ですか？");
        received(u"+8613855500105", u"你好，今天晚上一起吃饭吗？");
        received(u"+66815550104", u"สวัสดีครับ วันนี้ไปไหนมา");
        received(u"+919855500103", u"नमस्ते, कैसे हो?");
        received(u"+972505550102", u"שלום 123 abc עולם");
        received(u"+201005550101", u"مرحبا كيف حالك");
        received(u"+201005550101", u"Meeting at 5 في المكتب رقم 12 ok");
        mine(u"+201005550101", u"שלום מה שלומך");
        received(u"+201005550101", u"नमस्ते स्त्री क्षत्रिय");
        mine(u"+201005550101", u"สวัสดีครับวันนี้อากาศดีมากเราไปเที่ยวทะเลกันไหมครับพรุ่งนี้เช้าก็ได้นะ");
        received(u"+201005550101", u"مرحبا يا صديقي، هل ستأتي إلى الاجتماع غدا في المكتب الرئيسي بعد الظهر؟");
        mine(u"+201005550101", u"你好 こんにちは 😀 👨\u200D👩\u200D👧 🇩🇪 👍🏽 ❤️ 1️⃣");
    }

    FormMain& main_form() { return *controller->chat_list(); }

    // Compares the frame on screen with the committed picture (or writes it, when asked), and
    // checks the contrast of every text the shown forms draw.
    void check_screen(std::string const& name)
    {
        Bitmap565 const* frame = application->game().last_frame();
        ASSERT_NE(frame, nullptr);
        std::string expected = std::string(VELLOQ_FIXTURES_DIR) + "/screens/" + GetParam().folder + "/" + name + ".png";
        std::string drawn = (device.path() / (name + ".png")).string();
        ASSERT_TRUE(platform::write_png_565(drawn, frame->pixels(), frame->pitch(), frame->width(), frame->height()));
        if (std::getenv("VELLOQ_UPDATE_SCREENS")) {
            std::filesystem::create_directories(std::filesystem::path(expected).parent_path());
            std::filesystem::copy_file(drawn, expected, std::filesystem::copy_options::overwrite_existing);
        }
        auto wanted = test::read_png(expected);
        auto got = test::read_png(drawn);
        ASSERT_TRUE(wanted) << "no picture " << expected << " (scripts/update-screens.sh makes it)";
        ASSERT_TRUE(got);
        double differing = test::differing_share(*wanted, *got, 24);
        if (differing > 0.002) {
            auto kept_folder = std::filesystem::temp_directory_path() / "velloq-screens" / GetParam().folder;
            std::filesystem::create_directories(kept_folder);
            std::string kept = (kept_folder / (name + ".png")).string();
            std::filesystem::copy_file(drawn, kept, std::filesystem::copy_options::overwrite_existing);
            ADD_FAILURE() << name << ": " << differing * 100 << " % of the pixels differ from " << expected << "; drawn now: " << kept;
        }
        check_contrast(*frame, *stack->top());
    }

    // A list shows its items only inside its own rectangle: what lies beyond it is not drawn.
    void check_contrast(Bitmap565 const& frame, Element& root, std::optional<Rect> shown = std::nullopt)
    {
        if (!root.is_visible() || !root.is_effectively_visible())
            return;
        if (auto* text = dynamic_cast<TextElement*>(&root); text && !text->text().empty())
            check_text(frame, *text, shown);
        for (auto const& child : root.children())
            check_contrast(frame, *child, shown);
        if (auto* list = dynamic_cast<VList*>(&root)) {
            Rect own = list->rect();
            Rect inside = shown ? intersection(*shown, own) : own;
            for (int32_t index = 0; index < list->count(); ++index) {
                if (Element* item = list->item(index))
                    check_contrast(frame, *item, inside);
            }
        }
    }

    // The background is the commonest colour of the text's box in the frame; a text outside the
    // frame, or too small to have a box, draws nothing to judge.
    void check_text(Bitmap565 const& frame, TextElement const& text, std::optional<Rect> shown)
    {
        Rect box = intersection({ text.position().x, text.position().y, text.size().x, text.size().y }, { 0, 0, frame.width(), frame.height() });
        if (shown)
            box = intersection(box, *shown);
        if (box.width < 4 || box.height < 4)
            return;
        std::map<uint16_t, int> counts;
        for (int32_t y = box.top; y < box.top + box.height; ++y) {
            for (int32_t x = box.left; x < box.left + box.width; ++x)
                ++counts[frame.row(y)[x]];
        }
        uint16_t background = std::max_element(counts.begin(), counts.end(), [](auto const& a, auto const& b) { return a.second < b.second; })->first;
        double ratio = test::contrast_ratio(text.colour().to_565(), background);
        EXPECT_GE(ratio, 4.5) << "\"" << to_utf8(text.text()) << "\" at " << box.left << "," << box.top << " contrast " << ratio;
    }

    std::optional<test::ScopedEnvironment> m_screen;
    std::optional<test::ScopedEnvironment> m_zone;
    std::optional<test::ScopedEnvironment> m_locale;
};

}

TEST_P(Screenshots, TheChatList)
{
    start_and_settle();
    check_screen("chat_list");
}

TEST_P(Screenshots, AChatWithReceivedSentALinkADaySeparatorAndADraft)
{
    start_and_settle();
    controller->on_other_instance_started(u"open:+491701234567");
    settle();
    check_screen("chat");
}

TEST_P(Screenshots, PicturesInTheirBubblesWithAndWithoutTextAndAFile)
{
    {
        StoreWriter store;
        int64_t at = 1'748'736'000 + 2 * 86400;
        std::string landscape = VELLOQ_FIXTURES_DIR "/pictures/landscape.jpg";
        store.picture(u"+491701234567", u"The view from up here", at, landscape);
        store.picture(u"+491701234567", {}, at + 60, landscape);
        store.picture(u"+491701234567", u"And the tickets", at + 120, landscape, "application/pdf");
    }
    start_and_settle();
    controller->on_other_instance_started(u"open:+491701234567");
    auto pictures_shown = [&] {
        VList* list = dynamic_cast<VList*>(stack->top()->find_by_id(u"list"));
        int shown = 0;
        for (int32_t index = 0; list && index < list->count(); ++index) {
            auto* item = list->item(index);
            auto* picture = item ? dynamic_cast<ImageElement*>(item->find_by_id(u"picture")) : nullptr;
            shown += picture && picture->is_visible() && picture->has_picture();
        }
        return shown == 2;
    };
    ASSERT_TRUE(pump_until(pictures_shown, 10s));
    settle();
    check_screen("pictures");

    // The first picture tapped: on a screen of its own.
    auto* list = dynamic_cast<VList*>(stack->top()->find_by_id(u"list"));
    ASSERT_NE(list, nullptr);
    Element* picture = nullptr;
    for (int32_t index = 0; list && index < list->count() && !picture; ++index) {
        auto* found = list->item(index) ? list->item(index)->find_by_id(u"picture") : nullptr;
        if (found && found->is_visible())
            picture = found;
    }
    ASSERT_NE(picture, nullptr);
    Point at { picture->position().x + picture->size().x / 2, picture->position().y + picture->size().y / 2 };
    stack->top()->pointer_button({ at.x, at.y, 0, true });
    stack->top()->pointer_button({ at.x, at.y, 0, false });
    // The picture is made on a thread of its own.
    ASSERT_TRUE(pump_until([&] { return controller->chat_list()->picture_form().view().has_picture(); }));
    settle();
    check_screen("picture_viewer");
}

TEST_P(Screenshots, AGroupChatSaysWhoWroteEachMessage)
{
    {
        StoreWriter store;
        int64_t at = 1'748'736'000 + 3 * 86400;
        std::vector<std::u16string> anna_ben_number { u"+491701234567", u"+49 151 2007919", u"+4915199999999" };
        auto others = [&](size_t sender) {
            std::vector<std::u16string> members = anna_ben_number;
            members.erase(members.begin() + static_cast<ptrdiff_t>(sender));
            return members;
        };
        store.picture(anna_ben_number[0], u"Dinner at ours on Friday?", at, {}, {}, others(0));
        store.picture(anna_ben_number[1], u"I'm in. Bringing dessert", at + 60, {}, {}, others(1));
        store.picture(anna_ben_number[2], u"Count me in too", at + 120, {}, {}, others(2));
    }
    start_and_settle();
    auto& form = main_form();
    ASSERT_NE(form.list().count(), 0);
    check_screen("group_list");
    form.item_activated(form.list(), 0);
    settle();
    check_screen("group_chat");
}

TEST_P(Screenshots, ThePickerWithAFilter)
{
    start_and_settle();
    press(main_form(), u"btnNew");
    settle();
    main_form().contacts_form().edit().text_input(u"a");
    settle();
    check_screen("picker");
}

TEST_P(Screenshots, TheTemplates)
{
    start_and_settle();
    main_form().show_templates(0);
    settle();
    check_screen("templates");
}

TEST_P(Screenshots, SearchingEveryMessage)
{
    start_and_settle();
    press(main_form(), u"btnSearch");
    settle();
    ASSERT_NE(main_form().search_form(), nullptr);
    main_form().search_form()->edit().text_input(u"see");
    settle_search();
    check_screen("search");
}

TEST_P(Screenshots, TheMainMenu)
{
    start_and_settle();
    press(main_form(), u"btnMenu");
    settle();
    check_screen("main_menu");
}

TEST_P(Screenshots, TheAlert)
{
    start_and_settle();
    application->minimize();
    deliver("+491701234567", "The train is late, I will be there at nine. Order without me, please!");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    settle();
    check_screen("alert");
}

TEST_P(Screenshots, EveryScriptShapedInItsDirection)
{
    fill_world();
    start_and_settle();
    check_screen("world_chat_list");
    controller->on_other_instance_started(u"open:+201005550101");
    settle();
    check_screen("world_chat");
}

TEST_P(Screenshots, AnAlertInArabic)
{
    fill_world();
    start_and_settle();
    application->minimize();
    deliver("+201005550101", "وصلت الآن إلى المحطة، أين أنت؟ سأنتظرك عند المدخل الرئيسي 🚉");
    ASSERT_TRUE(pump_until([&] { return alert_on_top(); }, 2500ms));
    settle();
    check_screen("world_alert");
}

INSTANTIATE_TEST_SUITE_P(Screens, Screenshots, testing::Values(ScreenshotSize { "480x800", "480x800" }, ScreenshotSize { "960x1600", "960x1600@192" }),
    [](auto const& info) { return std::string(info.param.folder); });
