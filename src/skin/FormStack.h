#pragma once

#include "shell/Colour.h"
#include "shell/FrameContent.h"
#include "skin/RenderSurface.h"
#include "skin/VisibilityAnimation.h"

#include <deque>
#include <memory>
#include <vector>

namespace velloq {

class Application;
class FontRep;
class Form;

// A form appearing over the picture of what was shown before it, or going away over the
// picture of what comes back, through the form's visibility animation.
class FormTransition {
public:
    FormTransition(Form& form, VisibilityAnimation::Kind kind);
    Form& form() const { return m_form; }
    int32_t direction() const { return m_animation.direction(); }
    void start(RenderSurface const& background, int32_t direction);
    void reverse() { m_animation.reverse(); }
    void advance(double seconds) { m_animation.advance(seconds); }
    void draw(DrawTarget const& target) const;

private:
    Form& m_form;
    VisibilityAnimation m_animation;
    RenderSurface m_background;
    RenderSurface m_picture;
};

// The forms on screen, the top one last. A form is shown over the others as a full form or as
// an overlay (a modal form over the frozen, dimmed picture of the form below); the stack lays
// the top form out to the client area, advances it by the frame clock, draws it, and hands it
// the input. Forms are never owned by the stack.
class FormStack final : public FrameContent {
public:
    static constexpr int32_t undimmed = 256;
    static constexpr int32_t dimmed = 128;

    explicit FormStack(Application&);
    ~FormStack();

    void show(Form& form, bool overlay, bool animate);
    bool hide(Form& form, bool animate);
    Form* top() const;
    bool top_is_overlay() const;
    bool contains(Form const&) const;
    size_t size() const { return m_entries.size(); }
    int32_t dim_level() const { return m_dim; }
    FormTransition const* transition() const { return m_transition.get(); }
    RenderSurface& surface() { return m_surface; }

    // The frame-time overlay shows while the registry value "FrameTimes" under
    // HKEY_CURRENT_USER\Software\Ketra\Velloq is non-zero.
    static bool frame_overlay_wanted();

    // FrameContent.
    bool is_empty() const override { return m_entries.empty() && !m_transition; }
    void advance(double seconds, int32_t client_width, int32_t client_height) override;
    bool wants_redraw() const override;
    void draw(Bitmap565& target) override;
    void pointer_move(PointerEvent const&) override;
    void pointer_button(PointerEvent const&) override;
    void wheel(PointerEvent const&, int32_t thousandths) override;
    void pinch(PointerEvent const&, double factor) override;
    void key(KeyEvent const&) override;
    void text_input(std::u16string const&) override;

private:
    struct Entry {
        Form* form;
        bool overlay;
    };
    void lay_out(Form&);
    void draw_alone(Form&);
    void draw_through_dim(Bitmap565& target, int32_t level) const;
    void notify_visible(Form&, bool);
    void make_visible_animated(Form&);
    std::unique_ptr<FormTransition> make_transition(Form&, bool animate);
    void draw_frame_overlay(Bitmap565& target);

    Application& m_application;
    std::vector<Entry> m_entries;
    RenderSurface m_surface;
    int32_t m_dim { undimmed };
    std::unique_ptr<FormTransition> m_transition;
    std::deque<uint32_t> m_frame_times;
    std::unique_ptr<FontRep> m_overlay_font;
    int32_t m_client_width { 0 };
    int32_t m_client_height { 0 };
};

}
