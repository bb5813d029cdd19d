#pragma once

#include "shell/Bitmap565.h"
#include "skin/Element.h"

#include <memory>

namespace velloq {

// A picture shown whole on a screen of its own: fitted into the element at first, then zoomed
// (a double tap, the wheel, or the + and - keys) and dragged around while it is larger than the
// screen. It never moves further than its own edges.
class PictureView final : public Element {
public:
    void set_picture(std::shared_ptr<Bitmap565> picture);
    bool has_picture() const { return m_picture != nullptr; }
    // How much larger than fitted the picture is drawn (1 is fitted).
    double zoom() const { return m_zoom; }
    // Zooms by `factor` keeping the picture's point under (x, y) where it is.
    void zoom_by(double factor, int32_t x, int32_t y);

    void draw_self(DrawTarget const& target, Point offset) override;
    bool pointer_button(PointerEvent const&) override;
    bool pointer_move(PointerEvent const&) override;
    bool wheel(PointerEvent const&, int32_t thousandths) override;
    bool pinch(PointerEvent const&, double factor) override;
    bool key(KeyEvent const&) override;
    bool text_input(std::u16string const&) override;

    static constexpr double most_zoom = 8.0;

private:
    // Screen pixels per picture pixel.
    double scale() const;
    void keep_inside();

    std::shared_ptr<Bitmap565> m_picture;
    double m_zoom { 1.0 };
    // The picture's point (in its own pixels) at the element's middle.
    double m_centre_x { 0 };
    double m_centre_y { 0 };
    bool m_dragging { false };
    int32_t m_drag_x { 0 };
    int32_t m_drag_y { 0 };
    uint32_t m_last_tap_time { 0 };
    int32_t m_last_tap_x { -1000 };
    int32_t m_last_tap_y { -1000 };
};

}
