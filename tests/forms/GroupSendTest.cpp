// A message to several recipients is one store message that becomes one copy per recipient,
// each moving its chat to the top. After every such send, from anywhere in a list longer than
// the screen, the list shows exactly the model's chats in order, newest at the top and in view.
#include "ControllerFixture.h"

#include "forms/FormChat.h"
#include "messaging/PhoneBook.h"
#include "platform/Utf.h"
#include "skin/TextEdit.h"

#include <string>

using namespace velloq;
using namespace std::chrono_literals;

namespace {

class GroupSend : public test::ControllerFixture {
protected:
    static std::string number(int n) { return "+4915110" + std::to_string(100000 + n); }
    void SetUp() override
    {
        ControllerFixture::SetUp();
        for (int n = 0; n < 30; ++n)
            deliver(number(n), "hello " + std::to_string(n));
    }
    FormMain& main_form() { return *controller->chat_list(); }
    void settle()
    {
        ASSERT_TRUE(pump_until([&] { return stack->transition() == nullptr; }));
        pump_for(30ms);
    }
    // Sends from the chat at `from` (a list index) to its number and `others` more, some of them new.
    void send_from(int32_t from, int others, int first_new)
    {
        main_form().list().scroll_to(std::max(0, from - 2));
        pump_for(30ms);
        main_form().item_activated(main_form().list(), from);
        settle();
        ASSERT_EQ(stack->top(), &main_form().chat_form());
        std::vector<std::u16string> keys { controller->model()->current_chat_key() };
        for (int other = 0; other < others; ++other) {
            PhoneEntry entry = PhoneEntry::from_typed(to_utf16(number(first_new + other)));
            entry.mark = 1;
            keys.push_back(entry.key);
            if (PhoneEntry* known = controller->model()->phone_book().find(entry.key))
                known->mark = 1;
            else
                controller->model()->phone_book().add(entry);
        }
        main_form().chat_form().edit().set_text(u"to all of you");
        press(main_form().chat_form(), u"btnSend");
        // The next poll splits the message into its copies.
        ASSERT_TRUE(pump_until([&] {
            for (auto const& key : keys) {
                Chat* chat = controller->model()->find_chat(key);
                if (!chat || chat->messages.empty() || chat->messages.back().text != u"to all of you")
                    return false;
            }
            return true;
        }, 5s));
        controller->on_key({ Key::Backspace, true, true });
        main_form().chat_form().key({ Key::Backspace, true, true });
        settle();
        ASSERT_EQ(stack->top(), &main_form());
        expect_list_equals_model(keys);
    }
    void expect_list_equals_model(std::vector<std::u16string> const& keys)
    {
        auto const& chats = controller->model()->chats();
        VList& list = main_form().list();
        ASSERT_EQ(list.count(), static_cast<int32_t>(chats.size()));
        for (auto const& key : keys)
            EXPECT_NE(controller->model()->find_chat(key), nullptr) << to_utf8(key);
        // The newest chat is at the top and in view.
        EXPECT_EQ(list.first_built(), 0);
        ASSERT_NE(list.item(0), nullptr);
        EXPECT_GE(list.item(0)->position().y, list.position().y);
        // Every chat in the model's order, page by page.
        for (int32_t index = 0; index < list.count(); ++index) {
            if (!list.item(index))
                list.scroll_to(index);
            EXPECT_EQ(item_text(index, u"title"), chats[static_cast<size_t>(index)]->title()) << index;
        }
        list.scroll_to(0);
    }
};

}

TEST_F(GroupSend, FromTheTopTheMiddleAndTheEndToChatsThatExistAndThatDoNot)
{
    start();
    ASSERT_TRUE(pump_until([&] { return started(); }));
    settle();
    send_from(0, 1, 5);     // two recipients, the other an existing chat further down
    send_from(14, 2, 40);   // three recipients from the middle, both new
    send_from(29, 9, 20);   // ten from the end: existing chats and new ones
}
