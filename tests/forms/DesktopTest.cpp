#include "ControllerFixture.h"

#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "skin/TextEdit.h"

using namespace velloq;
using namespace std::chrono_literals;

namespace {

class SmsLinks : public test::ControllerFixture {
protected:
    FormMain& main_form() { return *controller->chat_list(); }
};

}

TEST_F(SmsLinks, ALinkOpensTheNumbersChatWithTheBodyInTheReplyAtStartAndWhileRunning)
{
    deliver("+4915120000001", "hello");
    start(u"sms:+4915120000001?body=Hello%20again");
    ASSERT_TRUE(pump_until([&] { return started() && stack->top() == &main_form().chat_form(); }));
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000001");
    EXPECT_EQ(main_form().chat_form().edit().text(), u"Hello again");

    // The running program gets a later link from the single-instance hand-over; one the
    // program never wrote to makes a new chat. A text saying "message" is no broker's start.
    controller->on_other_instance_started(u"smsto:+4915120000009:a message for you");
    settle();
    ASSERT_EQ(stack->top(), &main_form().chat_form());
    EXPECT_EQ(controller->model()->current_chat_key(), u"0000009");
    EXPECT_EQ(main_form().chat_form().edit().text(), u"a message for you");
}

TEST_F(SmsLinks, ABrokenLinkIsLoggedAndOpensNothing)
{
    deliver("+4915120000001", "hello");
    start_and_settle();
    controller->on_other_instance_started(u"sms:$(reboot)?body=hi");
    settle();
    EXPECT_EQ(stack->top(), &main_form());
    EXPECT_NE(log_text().find(u"sms link not opened (no phone number): sms:$(reboot)?body=hi"), std::u16string::npos);
}
