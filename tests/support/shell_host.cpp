// A small program on the real shell: it starts like the program does (single-instance rule,
// application, full screen), writes every command line a later start hands over to
// <device>/received.txt (one per line, "<empty>" for an empty one), draws a frame that shows
// the last key and pointer position, and ends on the command line "quit" or SIGTERM.
#include "platform/Folders.h"
#include "platform/SignalWatcher.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "shell/ApplicationListener.h"
#include "shell/CommandLine.h"
#include "shell/FrameContent.h"
#include "shell/GameBase.h"

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

using namespace velloq;

namespace {

class HostListener final : public ApplicationListener {
public:
    void on_other_instance_started(std::u16string const& command_line) override
    {
        std::ofstream(platform::device_folder() + "/received.txt", std::ios::app)
            << (command_line.empty() ? std::string("<empty>") : to_utf8(command_line)) << "\n";
        if (command_line == u"quit")
            platform::EventQueue::post(platform::EventKind::CloseRequested);
    }
    bool on_close_requested() override { return true; }
};

// Paints the whole frame in a colour that follows the input, so a snapshot shows it reacted.
class InputColours final : public FrameContent {
public:
    bool is_empty() const override { return false; }
    void advance(double, int32_t, int32_t) override { }
    bool wants_redraw() const override { return m_changed; }
    void draw(Bitmap565& target) override
    {
        target.fill(m_colour);
        m_changed = false;
    }
    void pointer_move(PointerEvent const&) override { }
    void pointer_button(PointerEvent const& event) override { show(event.pressed ? Bitmap565::rgb(0, 0, 255) : Bitmap565::rgb(0, 255, 0)); }
    void key(KeyEvent const& event) override { show(event.code == Key::Enter ? Bitmap565::rgb(255, 0, 0) : Bitmap565::rgb(255, 255, 255)); }
    void text_input(std::u16string const&) override { show(Bitmap565::rgb(255, 255, 0)); }
    void wheel(PointerEvent const&, int32_t thousandths) override { show(thousandths > 0 ? Bitmap565::rgb(255, 0, 255) : Bitmap565::rgb(0, 255, 255)); }

private:
    void show(uint16_t colour)
    {
        m_colour = colour;
        m_changed = true;
    }
    uint16_t m_colour { Bitmap565::rgb(0, 0, 128) };
    bool m_changed { true };
};

}

int main(int argc, char** argv)
{
    platform::SignalWatcher::block_watched_signals();
    std::u16string command_line = command_line_from_arguments(argc > 1 ? 2 : 1, argv);
    // A slow start: a later start must wait on the start-up lock until this window exists.
    std::string delay = argc > 2 ? argv[2] : "0";
    if (show_running_instance(command_line, u"Velloq"))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(delay)));
    platform::SignalWatcher signals;
    Application application(u"Velloq");
    HostListener listener;
    InputColours content;
    application.set_listener(&listener);
    application.set_content(&content);
    application.set_game_input(false);
    application.set_windowed(false);
    application.set_fullscreen(application.screen_info().orientation);
    std::ofstream(platform::device_folder() + "/ready");
    application.run();
    return 0;
}
