#include "shell/Display.h"

#include "platform/Utf.h"
#include "platform/Window.h"
#include "shell/Log.h"

#include <cstring>
#include <exception>
#include <tuple>
#include <utility>
#include <string>

namespace velloq {

namespace {

void log_params(DisplayParams const& params)
{
    log() << u"W:" << params.width << u", H:" << params.height << u", O:" << params.orientation << u", S:" << params.swap_effect;
}

// Detects and initialises one driver with its log lines; an exception counts as failure.
bool try_driver(DisplayDriver& driver, DisplayParams const& params)
{
    try {
        log() << driver.name() << u": Detect()\n";
        if (!driver.detect())
            return false;
        log() << driver.name() << u": Initialize()\n";
        if (driver.initialize(params.width, params.height))
            return true;
        log() << driver.name() << u": Initialize() failed\n";
    } catch (std::exception const&) {
        log() << driver.name() << u": *** CAUGHT EXCEPTION ***\n";
    }
    return false;
}

}

bool SdlDisplayDriver::initialize(int32_t width, int32_t height)
{
    std::string error;
    if (m_window->prepare_frames(width, height, error))
        return true;
    log() << u"SDLDriver: " << to_utf16(error) << u"\n";
    return false;
}

bool SdlDisplayDriver::present(Bitmap565 const& frame, int32_t first_row, int32_t end_row)
{
    return m_window->present(frame.pixels(), frame.pitch(), frame.width(), frame.height(), { 0, first_row, frame.width(), end_row - first_row });
}

std::unique_ptr<Display> Display::Create(platform::Window* window, DisplayParams& params, int32_t screen_width, int32_t screen_height)
{
    std::vector<std::unique_ptr<DisplayDriver>> drivers;
    if (window)
        drivers.push_back(std::make_unique<SdlDisplayDriver>(window));
    drivers.push_back(std::make_unique<MemoryDisplayDriver>());
    return Create(std::move(drivers), window ? window->id() : 0, params, screen_width, screen_height);
}

std::unique_ptr<Display> Display::Create(std::vector<std::unique_ptr<DisplayDriver>> drivers, uint32_t window_id, DisplayParams& params,
    int32_t screen_width, int32_t screen_height)
{
    log() << u"Display::Create( hwnd = " << to_u16_hex(window_id, 8) << u", ";
    log_params(params);
    log() << u" )\n";
    DisplayParams actual = params;
    if (actual.swap_effect == 0) {
        log() << u"Swap effect forced to SWAP_DISCARD\n";
        actual.swap_effect = 1;
    }
    if (actual.width <= 0 || actual.height <= 0) {
        actual.width = screen_width;
        actual.height = screen_height;
    }
    log() << u"Initializing display...\n";
    for (auto& driver : drivers) {
        if (!try_driver(*driver, actual))
            continue;
        auto back_buffer = Bitmap565::create(actual.width, actual.height);
        if (!back_buffer)
            break;
        params = actual;
        log() << u"Success, returning display params to caller (";
        log_params(params);
        log() << u")\n";
        return std::unique_ptr<Display>(new Display(std::move(driver), std::move(back_buffer)));
    }
    log() << u"Failed, destroying internal structures\n";
    return nullptr;
}

Display::Display(std::unique_ptr<DisplayDriver> driver, std::unique_ptr<Bitmap565> back_buffer)
    : m_driver(std::move(driver))
    , m_back_buffer(std::move(back_buffer))
{
}

bool Display::begin()
{
    if (!m_active || !m_back_buffer)
        return false;
    m_begun = true;
    return true;
}

Bitmap565* Display::back_buffer()
{
    return m_begun ? m_back_buffer.get() : nullptr;
}

bool Display::end(uint32_t)
{
    if (!m_begun)
        return false;
    m_begun = false;
    int32_t height = m_back_buffer->height();
    if (!m_presented || m_presented->width() != m_back_buffer->width() || m_presented->height() != height)
        m_presented = Bitmap565::create(m_back_buffer->width(), height);
    auto [first, end] = m_rows.changed_rows(*m_back_buffer);
    if (m_whole_frame_due)
        std::tie(first, end) = std::pair<int32_t, int32_t> { 0, height };
    if (first >= end)
        return true;
    if (!m_driver->present(*m_back_buffer, first, end))
        return true;
    m_rows.presented();
    m_whole_frame_due = false;
    // Every row of the back buffer now matches the window (those outside the band already did).
    // Each frame is drawn whole, so the buffers trade places instead of one copying the other.
    if (m_presented)
        std::swap(m_back_buffer, m_presented);
    return true;
}


}
