#include "ControllerFixture.h"

#include "../../tools/velloq-sms/SmsCommand.h"
#include "forms/FormMain.h"
#include "forms/FormSearch.h"
#include "platform/Utf.h"
#include "skin/ButtonElement.h"
#include "skin/TextElement.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace velloq::test {

void ControllerFixture::SetUp()
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    std::filesystem::create_directories(device.path() / "contacts");
}

void ControllerFixture::TearDown()
{
    controller.reset();
    if (application)
        application->set_content(nullptr);
    stack.reset();
    application.reset();
}

void ControllerFixture::deliver(std::string const& from, std::string const& text, std::string const& name)
{
    std::ostringstream out, err;
    std::vector<std::string> arguments { "deliver", "--from", from };
    if (!name.empty())
        arguments.insert(arguments.end(), { "--name", name });
    arguments.push_back(text);
    ASSERT_EQ(tools::run_sms_command(arguments, out, err), tools::SmsExit::Ok) << err.str();
}

void ControllerFixture::write_contact(std::string const& file, std::string const& card)
{
    std::ofstream(device.path() / "contacts" / file) << card;
}

void ControllerFixture::start(std::u16string const& command_line)
{
    application = std::make_unique<Application>(u"Velloq");
    stack = std::make_unique<FormStack>(*application);
    application->set_content(stack.get());
    application->set_game_input(false);
    application->set_windowed(false);
    application->set_fullscreen(0);
    // The broker must not start a real program from a test.
    // Nor read the desktop's own address book.
    ChatModel::Options options { (device.path() / "cache").u16string(), u"" VELLOQ_TEST_MARKER, {}, (device.path() / "kpeoplevcard").string() };
    controller = std::make_unique<MessengerApp>(*application, *stack, command_line, options);
}

bool ControllerFixture::pump_until(std::function<bool()> const& condition, std::chrono::milliseconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        application->process_pending_messages();
        application->game().tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ControllerFixture::pump_for(std::chrono::milliseconds time)
{
    auto end = std::chrono::steady_clock::now() + time;
    pump_until([&] { return std::chrono::steady_clock::now() > end; }, time + std::chrono::seconds(1));
}

void ControllerFixture::start_and_settle()
{
    start();
    ASSERT_TRUE(pump_until([&] { return started(); }));
    settle();
}

void ControllerFixture::settle_search()
{
    ASSERT_TRUE(pump_until([&] {
        FormSearch* search = controller->chat_list() ? controller->chat_list()->search_form() : nullptr;
        return search && !search->searching();
    }));
    settle();
}

void ControllerFixture::settle()
{
    ASSERT_TRUE(pump_until([&] { return stack->transition() == nullptr; }));
    pump_until([&] { return !application->wants_redraw(); }, std::chrono::milliseconds(1500));
    pump_for(std::chrono::milliseconds(60));
}

std::u16string ControllerFixture::log_text() const
{
    return read_utf16_file(device.log_file());
}

std::u16string ControllerFixture::item_text(int32_t index, std::u16string_view id)
{
    Element* item = controller->chat_list()->list().item(index);
    auto* text = item ? dynamic_cast<TextElement*>(item->find_by_id(id)) : nullptr;
    return text ? text->text() : u"<no item " + to_u16_decimal(index) + u">";
}

bool ControllerFixture::item_shows(int32_t index, std::u16string_view id)
{
    Element* item = controller->chat_list()->list().item(index);
    Element* element = item ? item->find_by_id(id) : nullptr;
    return element && element->is_visible();
}

void ControllerFixture::press(Element& form, std::u16string_view button_id)
{
    auto* button = dynamic_cast<ButtonElement*>(form.find_by_id(button_id));
    ASSERT_NE(button, nullptr);
    Point centre { button->position().x + button->size().x / 2, button->position().y + button->size().y / 2 };
    form.pointer_button({ centre.x, centre.y, 0, true });
    form.pointer_button({ centre.x, centre.y, 0, false });
}

}
