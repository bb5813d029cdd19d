#pragma once

#include "shell/Bitmap565.h"
#include "shell/Colour.h"
#include "shell/GameBase.h"
#include "shell/Input.h"
#include "shell/ScreenInfo.h"
#include "shell/Singleton.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velloq {

class ApplicationListener;
class EditElement;
class FrameContent;

// The application object: owns the window object and what is shown, runs the main loop, and
// advances and draws a frame whenever the loop asks.
class Application : public Singleton<Application> {
public:
    explicit Application(std::u16string name, WindowStart = WindowStart::Shown);
    ~Application();

    std::u16string const& name() const { return m_name; }
    void set_listener(ApplicationListener* listener) { m_listener = listener; }
    ApplicationListener* listener() const { return m_listener; }
    // What the window shows; with none, the frame is the clear colour.
    void set_content(FrameContent* content);
    FrameContent* content() const { return m_content; }
    void set_clear_colour(Colour colour) { m_clear_colour = colour; }
    Colour clear_colour() const { return m_clear_colour; }

    void set_game_input(bool on) { m_game->set_game_input(on); }
    void set_windowed(bool show_taskbar) { m_game->set_windowed(show_taskbar); }
    void set_fullscreen(int32_t orientation) { m_game->set_fullscreen(orientation); }
    void run() { m_game->run(); }
    void process_pending_messages() { m_game->process_pending_messages(); }
    void ResolutionChanged() { m_game->resolution_changed(); }
    void set_asleep() { m_game->set_asleep(); }
    bool is_in_front() const { return m_game->is_in_front(); }
    bool touch_first() const { return m_game->touch_first(); }
    void minimize() { m_game->minimize(); }
    void hide() { m_game->hide(); }
    void bring_to_front() { m_game->bring_to_front(); }
    void quit() { m_game->quit(); }
    ScreenInfo const& screen_info() const { return m_game->screen_info(); }
    Rect client_rect() const { return m_game->client_rect(); }
    void set_edit(EditElement* element, bool create) { m_game->set_edit(element, create); }
    GameBase& game() { return *m_game; }

    // The frame, as the main loop drives it.
    void advance(double seconds);
    bool wants_redraw() const;
    void draw(Bitmap565& target);
    void set_needs_redraw() { m_needs_redraw = true; }

    // Input for what is shown; dropped when nothing is.
    void key(KeyEvent const&);
    void text_input(std::u16string const&);
    void pointer_move(PointerEvent const&);
    void pointer_button(PointerEvent const&);
    void wheel(PointerEvent const&, int32_t thousandths);
    // Two fingers pinched around the point: the distance between them grew by `factor`.
    void pinch(PointerEvent const&, double factor);

private:
    Colour m_clear_colour;
    ApplicationListener* m_listener { nullptr };
    std::u16string m_name;
    FrameContent* m_content { nullptr };
    std::unique_ptr<GameBase> m_game;
    bool m_needs_redraw { true };
    bool m_needed_redraw { true };
};

}
