#include "shell/GameBase.h"

#include "platform/Environment.h"
#include "platform/PngFile.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "shell/ApplicationListener.h"
#include "shell/Log.h"
#include "shell/Platform.h"
#include "shell/Registry.h"
#include "shell/SingleInstancePaths.h"

#include <algorithm>
#include <utility>

namespace velloq {

namespace {

constexpr std::u16string_view empty_command_line = u"%CommandLineEmpty%";

void log_step(int step)
{
    log() << platform::tick_count() << u" GameBase " << step << u"\n";
}

}

GameBase::GameBase(Application& application, std::u16string const& name, WindowStart start)
    : m_application(application)
    , m_class_name(main_window_class(name))
    , m_title(name)
{
    reg_get_int(registry_key::vendor, u"SIPPreference", m_sip_preference);
    log_step(0);
    log_step(1);
    // The window class of the device is the socket that later starts find this instance by.
    std::string error;
    m_mailbox = platform::InstanceMailbox::open(instance_socket_path(name), copy_data_message, error);
    if (!m_mailbox)
        log() << u"GameBase: later starts cannot reach this instance: " << to_utf16(error) << u"\n";
    log_step(2);
    log_step(3);
    m_video = std::make_unique<platform::VideoSystem>();
    m_events.attach(m_video->event_source());
    if (m_video->ok()) {
        std::string reason = m_video->driver_reason();
        log() << u"GameBase: video driver " << to_utf16(m_video->driver()) << (reason.empty() ? u"" : u" (" + to_utf16(reason) + u")") << u"\n";
    }
    if (m_video->screen_text_rejected())
        log() << u"GameBase: VELLOQ_SCREEN=" << to_utf16(platform::environment_value("VELLOQ_SCREEN")) << u" is not WxH or WxH@DPI; ignored\n";
    m_screen = fresh_screen_info();
    log_step(4);
    create_window(start);
    log_step(5);
    release_startup_lock();
    m_window_timer.start(window_timer_message, window_timer_period_ms);
    m_last_frame_time = platform::tick_count();
}

GameBase::~GameBase()
{
    m_window_timer.stop();
    std::string snapshot = platform::environment_value("VELLOQ_SNAPSHOT");
    if (!snapshot.empty())
        write_snapshot(snapshot);
    m_edit = nullptr;
    m_command_lines.clear();
    m_display.reset();
    m_back_buffer.reset();
    m_window_frame.reset();
    m_window_rows.forget();
    m_mailbox.reset();
    m_window.reset();
    m_events.attach(nullptr);
    release_startup_lock();
}

void GameBase::create_window(WindowStart start)
{
    if (!m_video->ok()) {
        log() << u"GameBase: no video: " << to_utf16(m_video->error()) << u"\n";
        return;
    }
    std::string error;
    m_window = m_video->create_window(to_utf8(m_title), { m_screen.screen_width, m_screen.screen_height, m_screen.orientation, m_screen.dpi }, error,
        start == WindowStart::Hidden);
    if (start == WindowStart::Hidden)
        m_inactive = true;
    if (!m_window) {
        log() << u"GameBase: no window: " << to_utf16(error) << u"\n";
        return;
    }
    apply_window_placement();
}

bool GameBase::display_opened() const
{
    return m_window && m_video && m_video->display_opened();
}

bool GameBase::desktop_display() const
{
    return m_video && m_video->is_desktop_display();
}

std::string GameBase::video_problem() const
{
    return m_video && !m_video->ok() ? m_video->error() : std::string();
}

ScreenInfo GameBase::fresh_screen_info() const
{
    auto metrics = m_video ? m_video->screen_metrics(m_window.get()) : platform::ScreenMetrics { 480, 800, 0, 96 };
    ScreenInfo info;
    info.screen_width = metrics.width;
    info.screen_height = metrics.height;
    info.client_width = metrics.width;
    info.client_height = metrics.height;
    info.orientation = metrics.orientation;
    info.dpi = metrics.dpi;
    return info;
}

Rect GameBase::client_rect() const
{
    ClientLayout layout;
    // The bars around a keyboard on the screen only take room where typing brings one up; on a
    // desktop the form keeps the whole screen while it is typed into.
    bool keyboard_layout = m_edit && m_window && m_window->has_screen_keyboard();
    layout.full_screen_without_typing = !m_windowed && !keyboard_layout;
    layout.smartphone = is_smartphone();
    layout.show_taskbar = m_show_taskbar;
    layout.input_panel_shown = false;
    return velloq::client_rect(m_screen, layout);
}

double GameBase::frame_seconds(uint32_t now, uint32_t last)
{
    return std::clamp(static_cast<double>(now - last) * 0.001, 0.001, 0.1);
}

void GameBase::run()
{
    platform::Event event;
    while (!m_quit) {
        if (m_inactive || m_asleep || !m_display) {
            // What the last action left on the screen (a menu closing after "Visit") is drawn to
            // its end before the program sleeps, so the frame never freezes on an older picture.
            bool finishing = m_asleep && !m_inactive && m_display && m_application.wants_redraw();
            if (finishing)
                tick();
            if (m_events.wait(event, finishing ? 10 : -1))
                dispatch(event);
            continue;
        }
        if (m_events.poll(event)) {
            dispatch(event);
            continue;
        }
        m_still_ticks = tick() ? 0 : m_still_ticks + 1;
        // The pause between frames, cut short by the next message.
        if (m_events.wait(event, frame_wait_ms()))
            dispatch(event);
    }
}

int GameBase::frame_wait_ms() const
{
    constexpr int frame_pause_ms = 10;
    // A still screen is looked at a few times a second, ten times while a caret blinks: nearly
    // free. Anything that moves draws a frame and brings back the full rate, and every event and
    // timer wakes the loop at once.
    constexpr int still_pause_ms = 250;
    constexpr int caret_pause_ms = 100;
    constexpr uint32_t ticks_before_still = 3;
    if (m_still_ticks < ticks_before_still)
        return frame_pause_ms;
    return m_edit ? caret_pause_ms : still_pause_ms;
}

void GameBase::process_pending_messages()
{
    platform::Event event;
    while (m_events.poll(event)) {
        if (event.kind == platform::EventKind::Quit) {
            m_quit = true;
            return;
        }
        dispatch(event);
    }
    tick();
}

bool GameBase::tick()
{
    // Pumped twice in one millisecond, nothing moves, but a frame that is wanted is still drawn:
    // a caller that pumps to show a change (the splash's progress) never waits for the next one.
    uint32_t now = platform::tick_count();
    m_application.advance(now == m_last_frame_time ? 0.0 : frame_seconds(now, m_last_frame_time));
    m_last_frame_time = now;
    if (!m_application.wants_redraw() || !m_display || !m_display->begin())
        return false;
    m_application.draw(*m_display->back_buffer());
    m_display->end(0);
    m_last_frame = &m_display->last_frame();
    write_pending_snapshot();
    if (auto* listener = m_application.listener())
        listener->on_frame_presented();
    return true;
}

void GameBase::on_window_timer()
{
    if (m_inactive || m_asleep || m_display)
        return;
    uint32_t now = platform::tick_count();
    double seconds = frame_seconds(now, m_last_frame_time);
    m_last_frame_time = now;
    m_application.advance(seconds);
    // While the user types, the window timer runs; a still screen is neither drawn nor presented.
    if (m_application.wants_redraw() || !m_window_rows.known())
        paint();
}

void GameBase::paint()
{
    Rect client = client_rect();
    if (!m_back_buffer || m_back_buffer->width() != client.width || m_back_buffer->height() != client.height)
        m_back_buffer = Bitmap565::create(std::max(0, client.width), std::max(0, client.height));
    if (!m_window_frame || m_window_frame->width() != m_screen.screen_width || m_window_frame->height() != m_screen.screen_height) {
        if (m_last_frame == m_window_frame.get())
            m_last_frame = nullptr;
        m_window_frame = Bitmap565::create(m_screen.screen_width, m_screen.screen_height);
    }
    if (!m_back_buffer || !m_window_frame)
        return;
    m_application.draw(*m_back_buffer);
    // The system's bars around the client stay dark; the window shows the whole screen.
    m_window_frame->fill(0);
    m_window_frame->copy_from(*m_back_buffer, client.left, client.top);
    m_last_frame = m_window_frame.get();
    present_window_frame();
    write_pending_snapshot();
}

// Only the rows that changed since the last present go to the window (all of them after it lost
// its picture, which forgets the last present).
void GameBase::present_window_frame()
{
    Bitmap565 const& frame = *m_window_frame;
    auto [first, end] = m_window_rows.changed_rows(frame);
    if (first >= end || !m_window)
        return;
    if (m_window->present(frame.pixels(), frame.pitch(), frame.width(), frame.height(), { 0, first, frame.width(), end - first }))
        m_window_rows.presented();
}

void GameBase::dispatch(platform::Event const& event)
{
    using platform::EventKind;
    switch (event.kind) {
    case EventKind::KeyDown:
    case EventKind::KeyUp:
        key_message(event);
        tell_input_method();
        break;
    case EventKind::Text:
        text_message(event);
        tell_input_method();
        break;
    case EventKind::Composing:
    case EventKind::DeleteAround:
        input_method_message(event);
        tell_input_method();
        break;
    case EventKind::PointerMove:
    case EventKind::PointerDown:
    case EventKind::PointerUp:
    case EventKind::CaptureLost:
    case EventKind::Wheel:
    case EventKind::Pinch:
        pointer_message(event);
        break;
    case EventKind::Activated:
    case EventKind::Deactivated:
        activate(event.kind == EventKind::Activated);
        break;
    case EventKind::CloseRequested:
        close_requested();
        break;
    case EventKind::Quit:
        m_quit = true;
        break;
    case EventKind::DisplayChanged:
        resolution_changed();
        break;
    case EventKind::Exposed:
        if (m_display) {
            m_display->invalidate();
            m_application.set_needs_redraw();
        } else {
            m_window_rows.forget();
            paint();
        }
        break;
    case EventKind::Private:
        dispatch_private(event.code);
        break;
    case EventKind::Snapshot:
        if (std::string path = platform::environment_value("VELLOQ_SNAPSHOT"); !path.empty())
            take_snapshot(path);
        break;
    case EventKind::None:
        break;
    }
}

void GameBase::dispatch_private(uint32_t code)
{
    switch (code) {
    case window_timer_message:
        on_window_timer();
        break;
    case copy_data_message:
        receive_command_line();
        break;
    case command_line_message:
        deliver_command_line();
        break;
    case CActiveScheduler::process_message:
        m_scheduler.process_actives();
        break;
    case CActiveScheduler::timer_message:
        m_scheduler.check_timers();
        break;
    default:
        break;
    }
}

void GameBase::receive_command_line()
{
    if (!m_mailbox)
        return;
    auto received = m_mailbox->take();
    if (!received)
        return;
    if (received->refused) {
        log() << u"Application::copy_data refused a command line of " << received->length << u" characters\n";
        return;
    }
    m_command_lines.push_back(received->text == empty_command_line ? std::u16string() : std::move(received->text));
    platform::EventQueue::post_private(command_line_message);
}

void GameBase::deliver_command_line()
{
    if (m_command_lines.empty())
        return;
    std::u16string command_line = std::move(m_command_lines.front());
    m_command_lines.pop_front();
    if (auto* listener = m_application.listener())
        listener->on_other_instance_started(command_line);
}

void GameBase::close_requested()
{
    if (auto* listener = m_application.listener(); listener && !listener->on_close_requested())
        return;
    quit();
}

void GameBase::activate(bool active)
{
    auto* listener = m_application.listener();
    if (active) {
        apply_window_placement();
        m_inactive = false;
        m_asleep = false;
        if (listener)
            listener->on_activated();
    } else {
        m_inactive = true;
        if (listener)
            listener->on_deactivated();
    }
}

void GameBase::apply_window_placement()
{
    // The window always shows the whole phone screen; the placement decides where the client
    // lies in it, and a new client size needs a new frame.
    m_application.set_needs_redraw();
}

void GameBase::resolution_changed()
{
    ScreenInfo fresh = fresh_screen_info();
    if (!(fresh == m_screen)) {
        m_screen = fresh;
        log() << u"Application::ResolutionChanged 2\n";
        if (auto* listener = m_application.listener())
            listener->on_resolution_changed();
        if (m_display && (m_display->last_frame().width() != m_screen.screen_width || m_display->last_frame().height() != m_screen.screen_height))
            create_display();
    }
    // A resized window has lost its picture, even where the frame stays the same.
    m_window_rows.forget();
    if (m_display) {
        m_display->invalidate();
        m_application.set_needs_redraw();
    }
    apply_window_placement();
}

// The frame last shown lives in the display or the window's frame: it goes with them, and a
// snapshot asked for meanwhile waits for the next frame.
void GameBase::drop_display()
{
    if (m_display && m_last_frame == &m_display->last_frame())
        m_last_frame = nullptr;
    m_display.reset();
}

void GameBase::create_display()
{
    drop_display();
    m_params.width = 0;
    m_params.height = 0;
    m_display = Display::Create(m_window.get(), m_params, m_screen.screen_width, m_screen.screen_height);
}

void GameBase::set_windowed(bool show_taskbar)
{
    if (m_windowed && m_show_taskbar == show_taskbar)
        return;
    m_windowed = true;
    m_show_taskbar = show_taskbar;
    if (m_edit)
        return;
    m_application.set_needs_redraw();
    drop_display();
    m_window_rows.forget();
    m_window_timer.start(window_timer_message, window_timer_period_ms);
    apply_window_placement();
}

void GameBase::set_fullscreen(int32_t orientation)
{
    if (!m_windowed && m_params.orientation == orientation && m_display)
        return;
    m_params.orientation = orientation;
    m_windowed = false;
    drop_display();
    if (m_edit)
        return;
    m_application.set_needs_redraw();
    create_display();
    // Without a display the window timer keeps drawing through the windowed path.
    if (m_display)
        m_window_timer.stop();
    else
        m_window_timer.start(window_timer_message, window_timer_period_ms);
    if (!m_game_input)
        set_game_input(false);
    apply_window_placement();
}

void GameBase::set_game_input(bool on)
{
    m_game_input = on;
    // Linux has no direct key input to open: the window receives every key anyway.
    log() << u"Application::set_game_input " << (on ? 1 : 0) << u"\n";
}

void GameBase::minimize()
{
    if (m_window)
        m_window->minimize();
    // A minimised window is behind everything, whether or not the window system says so (some
    // drivers send no focus change for it).
    m_inactive = true;
}

void GameBase::hide()
{
    if (m_window)
        m_window->hide();
    m_inactive = true;
}

void GameBase::bring_to_front()
{
    if (m_window)
        m_window->raise();
    m_inactive = false;
    m_asleep = false;
    m_application.set_needs_redraw();
}

void GameBase::quit()
{
    m_quit = true;
    if (m_window)
        m_window->hide();
    platform::EventQueue::post(platform::EventKind::Quit);
}

void GameBase::take_snapshot(std::string const& path)
{
    if (m_last_frame)
        write_snapshot(path);
    else
        m_pending_snapshot = path;
}

void GameBase::write_pending_snapshot()
{
    if (!m_pending_snapshot.empty())
        write_snapshot(std::exchange(m_pending_snapshot, {}));
}

bool GameBase::write_snapshot(std::string const& path) const
{
    if (!m_last_frame)
        return false;
    bool written = platform::write_png_565(path, m_last_frame->pixels(), m_last_frame->pitch(), m_last_frame->width(), m_last_frame->height());
    log() << u"GameBase: snapshot " << to_utf16(path) << u" result=" << (written ? 1 : 0) << u"\n";
    return written;
}

}
