#pragma once

#include "platform/Events.h"
#include "platform/SingleInstance.h"
#include "platform/VideoSystem.h"
#include "platform/Window.h"
#include "shell/ActiveScheduler.h"
#include "shell/Bitmap565.h"
#include "shell/Display.h"
#include "shell/RowSignatures.h"
#include "shell/Input.h"
#include "shell/ScreenInfo.h"
#include "shell/Singleton.h"

#include <deque>
#include <memory>
#include <string>

namespace velloq {

class Application;
class EditElement;

// The window object: the one window, the main loop and its frame clock, the two display modes,
// the command lines handed over by later starts, and the scheduler of deferred work.
// How the window starts: on the screen, or hidden until the program brings it to the front
// (a program started for a new message shows nothing until its alert).
enum class WindowStart { Shown, Hidden };

class GameBase : public Singleton<GameBase> {
public:
    // Private messages of the main loop.
    static constexpr uint32_t command_line_message = 0x0400 + 34;
    static constexpr uint32_t copy_data_message = 0x004A;
    static constexpr uint32_t window_timer_message = 0x0113'0001;
    static constexpr uint32_t window_timer_period_ms = 40;
    static constexpr int32_t no_release = -1000000;

    GameBase(Application&, std::u16string const& name, WindowStart = WindowStart::Shown);
    ~GameBase();

    void run();
    void process_pending_messages();
    // Advances and draws one frame; true when it drew one.
    bool tick();
    // How long the loop may sleep before the next frame: a frame's pause while anything moves, longer
    // once frames have stopped changing (events and timers still wake it at once).
    int frame_wait_ms() const;

    void set_windowed(bool show_taskbar);
    void set_fullscreen(int32_t orientation);
    void set_game_input(bool on);
    void resolution_changed();
    void set_edit(EditElement*, bool create);

    void set_asleep() { m_asleep = true; }
    bool is_in_front() const { return !m_inactive && !m_asleep; }
    // Whether fields take the input only when tapped (a phone), not when their form opens.
    bool touch_first() const { return m_window && m_window->touch_first(); }
    bool is_windowed() const { return m_windowed; }
    bool has_display() const { return m_display != nullptr; }
    ScreenInfo const& screen_info() const { return m_screen; }
    Rect client_rect() const;
    platform::Window* window() { return m_window.get(); }
    // Whether the window is on a display a person sees, and whether that is a desktop's (wider
    // than high) rather than a phone's.
    bool display_opened() const;
    // The video driver the window is shown through ("x11", "wayland", "dummy"; empty without one).
    std::string video_driver() const { return m_video ? m_video->driver() : std::string(); }
    bool desktop_display() const;
    // Why no display could be opened (empty when one was, or the window alone failed).
    std::string video_problem() const;
    CActiveScheduler& scheduler() { return m_scheduler; }
    Display* display() { return m_display.get(); }

    void minimize();
    // Takes the window off the screen until `bring_to_front`.
    void hide();
    void bring_to_front();
    // Ends the main loop: the window goes and the loop stops at the quit message behind it.
    void quit();
    bool quit_requested() const { return m_quit; }

    // The frame last shown on the screen, or null before the first one.
    Bitmap565 const* last_frame() const { return m_last_frame; }
    bool write_snapshot(std::string const& path) const;
    // Writes the last frame to `path`, or with the first frame when none was drawn yet.
    void take_snapshot(std::string const& path);
    void write_pending_snapshot();

    // The elapsed seconds between two frame ticks: the unsigned tick difference, clamped to
    // [0.001, 0.1] so a stall or a wrapped counter never makes an animation jump.
    static double frame_seconds(uint32_t now, uint32_t last);

private:
    void create_window(WindowStart);
    void dispatch(platform::Event const&);
    void dispatch_private(uint32_t code);
    void on_window_timer();
    void paint();
    void present_window_frame();
    void apply_window_placement();
    ScreenInfo fresh_screen_info() const;
    void create_display();
    void drop_display();
    void receive_command_line();
    void deliver_command_line();
    void close_requested();
    void activate(bool active);

    // Input (GameBaseInput.cpp).
    void key_message(platform::Event const&);
    void text_message(platform::Event const&);
    void input_method_message(platform::Event const&);
    // Tells the platform's input method the text and caret of the field that takes input.
    void tell_input_method();
    void pointer_message(platform::Event const&);
    void release_pointer(uint32_t time);
    void end_text_entry();

    Application& m_application;
    std::u16string m_class_name;
    std::u16string m_title;
    platform::EventQueue m_events;
    std::unique_ptr<platform::VideoSystem> m_video;
    std::unique_ptr<platform::Window> m_window;
    std::unique_ptr<platform::InstanceMailbox> m_mailbox;
    CActiveScheduler m_scheduler;
    platform::IntervalTimer m_window_timer;

    bool m_inactive { false };
    bool m_asleep { false };
    int32_t m_last_release_x { no_release };
    int32_t m_last_release_y { no_release };
    bool m_pointer_captured { false };
    EditElement* m_edit { nullptr };
    Rect m_edit_rect;
    int32_t m_sip_preference { 0 };
    uint32_t m_last_frame_time { 0 };
    // Ticks in a row that drew nothing.
    uint32_t m_still_ticks { 0 };
    std::unique_ptr<Display> m_display;
    bool m_windowed { true };
    bool m_show_taskbar { true };
    bool m_game_input { true };
    DisplayParams m_params { 0, 0, 0, 1 };
    std::unique_ptr<Bitmap565> m_back_buffer;
    std::unique_ptr<Bitmap565> m_window_frame;
    // What the windowed layout last showed in the window; none when the window lost its picture.
    RowSignatures m_window_rows;
    Bitmap565 const* m_last_frame { nullptr };
    // A snapshot asked for before the first frame, written with that frame.
    std::string m_pending_snapshot;
    std::deque<std::u16string> m_command_lines;
    ScreenInfo m_screen;
    bool m_quit { false };
};

// Hands the command line to a running instance of the program; true when one was found (the
// caller then ends). Otherwise the caller is the first instance and holds the start-up lock
// until its window exists.
bool show_running_instance(std::u16string const& command_line, std::u16string const& name);

// Releases the start-up lock taken by `show_running_instance`; nothing when none is held.
void release_startup_lock();

}
