#include "shell/Display.h"

#include "shell/Registry.h"
#include "support/TempDevice.h"

#include "platform/PixelFormat.h"
#include "platform/Window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/Utf.h"

using namespace velloq;

namespace {

class FailingDriver final : public DisplayDriver {
public:
    explicit FailingDriver(bool throws)
        : m_throws(throws)
    {
    }
    std::u16string_view name() const override { return u"BrokenDriver"; }
    bool detect() override { return true; }
    bool initialize(int32_t, int32_t) override
    {
        if (m_throws)
            throw std::runtime_error("driver fault");
        return false;
    }
    bool present(Bitmap565 const&, int32_t, int32_t) override { return false; }

private:
    bool m_throws;
};

class CountingDriver final : public DisplayDriver {
public:
    std::u16string_view name() const override { return u"MemoryDriver"; }
    bool detect() override { return true; }
    bool initialize(int32_t, int32_t) override { return true; }
    bool present(Bitmap565 const&, int32_t first_row, int32_t end_row) override
    {
        ++presents;
        rows = { first_row, end_row };
        return !failing;
    }
    int presents { 0 };
    std::pair<int32_t, int32_t> rows;
    bool failing { false };
};

// A display on a counting driver of its own; `counting` is that driver.
std::unique_ptr<Display> counting_display(int32_t width, int32_t height, CountingDriver*& counting)
{
    auto driver = std::make_unique<CountingDriver>();
    counting = driver.get();
    std::vector<std::unique_ptr<DisplayDriver>> drivers;
    drivers.push_back(std::move(driver));
    DisplayParams params;
    return Display::Create(std::move(drivers), 0, params, width, height);
}

}

TEST(Display, CreationLogLinesAndFallBackToTheNextDriver)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    std::vector<std::unique_ptr<DisplayDriver>> drivers;
    drivers.push_back(std::make_unique<FailingDriver>(false));
    drivers.push_back(std::make_unique<FailingDriver>(true));
    drivers.push_back(std::make_unique<CountingDriver>());
    DisplayParams params { 0, 0, 0, 0 };
    auto display = Display::Create(std::move(drivers), 0x2A, params, 240, 320);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(params.width, 240);
    EXPECT_EQ(params.height, 320);
    EXPECT_EQ(params.swap_effect, 1);
    EXPECT_EQ(test::read_utf16_file(device.log_file()),
        u"Display::Create( hwnd = 0000002A, W:0, H:0, O:0, S:0 )\n"
        u"Swap effect forced to SWAP_DISCARD\n"
        u"Initializing display...\n"
        u"BrokenDriver: Detect()\n"
        u"BrokenDriver: Initialize()\n"
        u"BrokenDriver: Initialize() failed\n"
        u"BrokenDriver: Detect()\n"
        u"BrokenDriver: Initialize()\n"
        u"BrokenDriver: *** CAUGHT EXCEPTION ***\n"
        u"MemoryDriver: Detect()\n"
        u"MemoryDriver: Initialize()\n"
        u"Success, returning display params to caller (W:240, H:320, O:0, S:1)\n");
}

TEST(Display, NoDriverLeavesNoDisplay)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    std::vector<std::unique_ptr<DisplayDriver>> drivers;
    drivers.push_back(std::make_unique<FailingDriver>(false));
    DisplayParams params { 320, 240, 1, 1 };
    EXPECT_EQ(Display::Create(std::move(drivers), 0, params, 240, 320), nullptr);
    EXPECT_EQ(params.width, 320);
    EXPECT_TRUE(test::read_utf16_file(device.log_file()).ends_with(u"Failed, destroying internal structures\n"));
}

TEST(Display, BeginDrawEndPresentsOnce)
{
    test::TempDevice device;
    CountingDriver* counting = nullptr;
    auto display = counting_display(4, 3, counting);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->back_buffer(), nullptr);
    EXPECT_FALSE(display->end(0));
    ASSERT_TRUE(display->begin());
    ASSERT_TRUE(display->begin());
    display->back_buffer()->fill(0x1234);
    EXPECT_TRUE(display->end(0));
    EXPECT_FALSE(display->end(0));
    EXPECT_EQ(counting->presents, 1);
    EXPECT_EQ(display->last_frame().row(2)[3], 0x1234);
    EXPECT_EQ(display->last_frame().pitch(), 8);
}

TEST(Display, OnlyTheRowsThatChangedArePresentedAndNothingWhenNoneDid)
{
    test::TempDevice device;
    CountingDriver* counting = nullptr;
    auto display = counting_display(8, 6, counting);
    ASSERT_NE(display, nullptr);
    // The program draws every frame whole, over whatever the buffer held.
    auto frame = [&](auto draw) {
        ASSERT_TRUE(display->begin());
        display->back_buffer()->fill(0x1111);
        draw(*display->back_buffer());
        display->end(0);
    };
    auto marked = [](Bitmap565& picture) {
        picture.row(2)[7] = 0x2222;
        picture.row(4)[0] = 0x3333;
    };
    frame([](Bitmap565&) {});
    EXPECT_EQ(counting->presents, 1);
    EXPECT_EQ(counting->rows, (std::pair<int32_t, int32_t> { 0, 6 }));
    frame([](Bitmap565&) {});
    EXPECT_EQ(counting->presents, 1);
    frame(marked);
    EXPECT_EQ(counting->presents, 2);
    EXPECT_EQ(counting->rows, (std::pair<int32_t, int32_t> { 2, 5 }));
    EXPECT_EQ(display->last_frame().row(4)[0], 0x3333);
    frame(marked);
    EXPECT_EQ(counting->presents, 2);
    // The window lost its picture: all of it again, though nothing changed.
    display->invalidate();
    frame(marked);
    EXPECT_EQ(counting->presents, 3);
    EXPECT_EQ(counting->rows, (std::pair<int32_t, int32_t> { 0, 6 }));
}

// A frame the window could not take is presented again with the next one, though that one is the
// same.
TEST(Display, AFrameThatFailedToPresentIsPresentedAgain)
{
    test::TempDevice device;
    CountingDriver* counting = nullptr;
    auto display = counting_display(8, 6, counting);
    ASSERT_NE(display, nullptr);
    auto frame = [&](uint16_t corner) {
        ASSERT_TRUE(display->begin());
        display->back_buffer()->fill(0x1111);
        display->back_buffer()->row(3)[5] = corner;
        display->end(0);
    };
    frame(0x1111);
    counting->failing = true;
    frame(0x2222);
    EXPECT_EQ(counting->presents, 2);
    counting->failing = false;
    frame(0x2222);
    EXPECT_EQ(counting->presents, 3);
    EXPECT_EQ(counting->rows, (std::pair<int32_t, int32_t> { 3, 4 }));
    frame(0x2222);
    EXPECT_EQ(counting->presents, 3);
}

// Every colour widens as its bits repeated (white stays white, black black), in the channel
// order SDL gives the window's format, wherever a row starts (the vector steps begin at an
// aligned pixel).
TEST(Display, WideningKeepsEveryColourWhereverARowStarts)
{
    std::vector<uint16_t> colours(65536 + 7);
    for (size_t index = 0; index < colours.size(); ++index)
        colours[index] = static_cast<uint16_t>(index * 40503u);
    auto repeated = [](uint32_t value, int bits) { return value << (8 - bits) | value >> (2 * bits - 8); };
    for (size_t start : { 0u, 1u, 3u, 7u }) {
        size_t count = colours.size() - start;
        std::vector<uint32_t> ours(count + 1), sdl(count);
        platform::widen_rgb565(colours.data() + start, ours.data() + (start % 2), count);
        ASSERT_EQ(SDL_ConvertPixels(static_cast<int>(count), 1, SDL_PIXELFORMAT_RGB565, colours.data() + start, static_cast<int>(count * 2),
                      SDL_PIXELFORMAT_ARGB8888, sdl.data(), static_cast<int>(count * 4)),
            0);
        for (size_t index = 0; index < count; ++index) {
            uint32_t colour = colours[start + index];
            uint32_t expected = 0xFF000000u | repeated(colour >> 11, 5) << 16 | repeated(colour >> 5 & 0x3F, 6) << 8 | repeated(colour & 0x1F, 5);
            uint32_t pixel = ours[index + start % 2];
            ASSERT_EQ(pixel, expected) << "colour " << colour << " start " << start;
            for (int shift : { 0, 8, 16, 24 })
                ASSERT_LE(std::abs(int(pixel >> shift & 0xFF) - int(sdl[index] >> shift & 0xFF)), 2) << "colour " << colour;
        }
    }
}
