#pragma once

#include "shell/Bitmap565.h"
#include "shell/RowSignatures.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace velloq {

namespace platform {
class Window;
}

// Width and height 0 ask for the screen's own size; swap effect 0 is not supported and becomes
// 1 (discard).
struct DisplayParams {
    int32_t width { 0 };
    int32_t height { 0 };
    int32_t orientation { 0 };
    int32_t swap_effect { 1 };
};

// One way of bringing a finished frame to the screen.
class DisplayDriver {
public:
    virtual ~DisplayDriver() = default;
    virtual std::u16string_view name() const = 0;
    virtual bool detect() = 0;
    virtual bool initialize(int32_t width, int32_t height) = 0;
    // Shows the rows `first_row` up to (not including) `end_row` of the frame; the others are
    // as the last present left them.
    virtual bool present(Bitmap565 const& frame, int32_t first_row, int32_t end_row) = 0;
};

// The full-screen display: a 5-6-5 back buffer of the display's size that the program draws
// into whole between `begin` and `end` (what it held before is not kept), presented by the best
// driver that works here.
class Display {
public:
    // Tries the window's SDL driver, then the memory-only driver; null when none works.
    static std::unique_ptr<Display> Create(platform::Window* window, DisplayParams& params, int32_t screen_width, int32_t screen_height);
    // The same with drivers of the caller's choice, tried in the given order.
    static std::unique_ptr<Display> Create(std::vector<std::unique_ptr<DisplayDriver>> drivers, uint32_t window_id, DisplayParams& params,
        int32_t screen_width, int32_t screen_height);

    bool begin();
    Bitmap565* back_buffer();
    // Presents the rows that differ from the last presented frame, or nothing when none do.
    bool end(uint32_t flags);
    // The next `end` presents the whole frame (the window lost what it showed).
    void invalidate() { m_whole_frame_due = true; }

    // The frame as it was last presented (the back buffer before anything was).
    Bitmap565 const& last_frame() const { return m_presented ? *m_presented : *m_back_buffer; }
    std::u16string_view driver_name() const { return m_driver->name(); }

private:
    Display(std::unique_ptr<DisplayDriver>, std::unique_ptr<Bitmap565>);

    std::unique_ptr<DisplayDriver> m_driver;
    std::unique_ptr<Bitmap565> m_back_buffer;
    // The frame as presented (the back buffer of the frame before), and what its rows were.
    std::unique_ptr<Bitmap565> m_presented;
    RowSignatures m_rows;
    bool m_whole_frame_due { true };
    bool m_active { true };
    bool m_begun { false };
};

// Presents frames in the program's SDL window through a streaming RGB565 texture.
class SdlDisplayDriver final : public DisplayDriver {
public:
    explicit SdlDisplayDriver(platform::Window* window)
        : m_window(window)
    {
    }
    std::u16string_view name() const override { return u"SDLDriver"; }
    bool detect() override { return m_window != nullptr; }
    bool initialize(int32_t width, int32_t height) override;
    bool present(Bitmap565 const& frame, int32_t first_row, int32_t end_row) override;

private:
    platform::Window* m_window;
};

// Keeps frames in memory only, for runs where no window can show them; the last frame can still
// be written to a picture file.
class MemoryDisplayDriver final : public DisplayDriver {
public:
    std::u16string_view name() const override { return u"MemoryDriver"; }
    bool detect() override { return true; }
    bool initialize(int32_t, int32_t) override { return true; }
    bool present(Bitmap565 const&, int32_t, int32_t) override { return true; }
};

}
