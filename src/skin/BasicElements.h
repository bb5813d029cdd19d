#pragma once

#include "shell/Colour.h"
#include "skin/Element.h"

#include <optional>
#include "skin/PictureRef.h"

namespace velloq {

// "color": a rectangle filled with its "color" (magenta when the skin names none).
class ColorElement final : public Element {
public:
    void load(Properties const&, Section const&) override;
    void draw_self(DrawTarget const& target, Point offset) override;
    void set_colour(Colour colour);
    Colour colour() const { return m_colour; }

private:
    Colour m_colour { 255, 0, 255, 255 };
};

// "progress": a value from 0 to 1, drawn as its child "#bar" stretched to that share of the
// width, or as a bar in "color" when there is no such child.
class ProgressElement final : public Element {
public:
    void load(Properties const&, Section const&) override;
    void draw_self(DrawTarget const& target, Point offset) override;
    void place_children(Axis) override;
    void set_value(double value);
    double value() const { return m_value; }

private:
    double m_value { 0 };
    Colour m_colour { 255, 255, 255, 255 };
    Element* m_bar { nullptr };
};

// "image": its "picture" drawn as a nine-part grid over its rectangle.
class ImageElement final : public Element {
public:
    void load(Properties const&, Section const&) override;
    void draw_self(DrawTarget const& target, Point offset) override;
    void set_picture(PictureRef picture);
    bool has_picture() const { return !m_picture.is_null(); }

private:
    PictureRef m_picture;
};

// "clip": its children are drawn only inside its rectangle, so it can be smaller than they are:
// it asks for their size but lives with its own design size. Children taller than it are shown
// whole by dragging them up and down, with a thin bar in "indicator_color" (when the skin gives
// one) telling where the view is.
class ClipElement final : public Element {
public:
    void load(Properties const&, Section const&) override;
    void draw_self(DrawTarget const& target, Point offset) override;
    void measure(Axis, Measure&) override;
    void place_children(Axis) override;
    bool pointer_button(PointerEvent const&) override;
    bool pointer_move(PointerEvent const&) override;
    // Moves the view by `pixels` (down for positive), within the children's height.
    void scroll_by(int32_t pixels);
    int32_t scroll() const { return m_scroll; }
    int32_t content_height() const { return m_content_height; }

private:
    int32_t m_scroll { 0 };
    int32_t m_content_height { 0 };
    int32_t m_drag_from { -1 };
    int32_t m_scroll_at_drag { 0 };
    std::optional<Colour> m_indicator;
};

// "snake": a row of dots in "color" that a highlight runs along while the element is shown, for
// work whose length is not known.
class SnakeElement final : public Element {
public:
    void load(Properties const&, Section const&) override;
    void advance(double seconds) override;
    void draw_self(DrawTarget const& target, Point offset) override;

private:
    Colour m_colour { 255, 255, 255, 255 };
    double m_phase { 0 };
};

// "checkbox": a tap turns it on or off; "#on" shows while it is checked, "#off" otherwise.
class CheckboxElement final : public Element {
public:
    void load(Properties const&, Section const&) override;
    bool pointer_button(PointerEvent const&) override;
    void set_checked(bool checked);
    bool checked() const { return m_checked; }
    // Runs after a tap turned it on or off.
    std::function<void()> on_toggle;

private:
    bool m_checked { false };
    Element* m_on { nullptr };
    Element* m_off { nullptr };
};

}
