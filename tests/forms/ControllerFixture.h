#pragma once

#include "forms/MessengerApp.h"
#include "shell/Application.h"
#include "shell/Registry.h"
#include "skin/ElementRegistry.h"
#include "skin/FormStack.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace velloq::test {

// The program as the entry builds it, on a fresh device with logging on, driven by hand: the
// test pumps the main loop's messages until what it waits for has happened.
class ControllerFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Delivers an incoming message through the store tool, as the phone's radio would.
    void deliver(std::string const& from, std::string const& text, std::string const& name = {});
    // A contact card in the device's contacts folder.
    void write_contact(std::string const& file, std::string const& card);
    void start(std::u16string const& command_line = {});
    // Runs the main loop's messages and frames until the condition holds; false at the limit.
    bool pump_until(std::function<bool()> const& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));
    void pump_for(std::chrono::milliseconds time);
    // Starts the program and waits until its chat list is on screen and still.
    void start_and_settle();
    // Until transitions and animations (a menu's dimming) have ended; a caret that blinks keeps
    // asking to be drawn, so the wait for stillness is bounded.
    void settle();
    // Until the search form has its answer to what was typed (the search runs on its own
    // thread), and the screen is still again.
    void settle_search();
    // The chat list is on the stack and the splash is gone (a view action may have put a chat
    // form over the list).
    bool started()
    {
        return controller->chat_list() && stack->contains(*controller->chat_list())
            && !(controller->splash_form() && stack->contains(*controller->splash_form()));
    }
    bool alert_on_top() { return controller->alert_form() && stack->top() == controller->alert_form(); }
    std::u16string log_text() const;
    // The text of a text element in the chat list's built item `index`.
    std::u16string item_text(int32_t index, std::u16string_view id);
    bool item_shows(int32_t index, std::u16string_view id);
    void press(Element& form, std::u16string_view button_id);

    MemoryDisplay display;
    ScopedEnvironment screen { "VELLOQ_SCREEN", "480x800" };
    TempDevice device;
    ElementTypes types;
    std::unique_ptr<Application> application;
    std::unique_ptr<FormStack> stack;
    std::unique_ptr<MessengerApp> controller;
};

}
