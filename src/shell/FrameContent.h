#pragma once

#include "shell/Bitmap565.h"
#include "shell/Input.h"

#include <string>

namespace velloq {

// What the application shows: the forms on its stack. The application advances it by the frame
// clock, asks it to draw when something changed, and hands it the input events.
class FrameContent {
public:
    virtual ~FrameContent() = default;
    virtual bool is_empty() const = 0;
    virtual void advance(double seconds, int32_t client_width, int32_t client_height) = 0;
    virtual bool wants_redraw() const = 0;
    virtual void draw(Bitmap565& target) = 0;
    virtual void pointer_move(PointerEvent const&) = 0;
    virtual void pointer_button(PointerEvent const&) = 0;
    // A wheel turned over the point: `thousandths` of a notch, > 0 toward later content.
    virtual void wheel(PointerEvent const&, int32_t thousandths) = 0;
    // Two fingers pinched around the point: the distance between them grew by `factor`.
    virtual void pinch(PointerEvent const&, double) {}
    virtual void key(KeyEvent const&) = 0;
    virtual void text_input(std::u16string const&) = 0;
};

}
