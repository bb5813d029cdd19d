#pragma once

#include "support/ChildProcess.h"
#include "support/PngPicture.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq::test {

// A Wayland compositor of the test's own (phoc, as on a phone) in a runtime folder of its own,
// ended when the object goes. Headless it has an output but no seat, as on a server; nested in
// an X server of its own (Xvfb) it has a seat, and what is done to the X server's pointer and
// keyboard (xdotool) reaches its clients as a user's input.
class Compositor {
public:
    // Null when phoc (or, nested, Xvfb) is not installed or did not come up.
    static std::unique_ptr<Compositor> start_headless();
    // Nested, its output is its X window, 1024×768 unless a mode ("720x1440") and scale are given.
    static std::unique_ptr<Compositor> start_nested(std::string const& output_mode = {}, int scale = 1);
    ~Compositor();
    Compositor(Compositor const&) = delete;
    Compositor& operator=(Compositor const&) = delete;

    // What a client needs to reach it: "XDG_RUNTIME_DIR=…" and "WAYLAND_DISPLAY=…".
    std::vector<std::string> client_environment() const;
    // Nested: the phone's on-screen keyboard (squeekboard) on a session bus of its own, set to come
    // up whenever a field takes input, as Phosh sets it. False when it is not installed or did not
    // come up.
    bool start_keyboard();
    // Where its socket is, and the socket's name there.
    std::filesystem::path const& runtime() const { return m_runtime; }
    static std::string display_name();
    // What phoc wrote, for a failure's message.
    std::string log() const;
    // Nested: the X server it runs in (":160"), which clients may use too.
    std::string const& x_display() const { return m_x_display; }
    // The output as the compositor shows it (wlroots' screencopy, through grim).
    std::optional<RgbPicture> screenshot() const;
    // The compositor's clipboard as another program sees it (wl-copy, wl-paste).
    bool copy_text(std::string const& text) const;
    std::optional<std::string> pasted_text() const;
    // Nested: turns the output as a phone turned on its side does (wlr-randr); false when it failed.
    bool turn_output(int quarter_turns) const;
    // Nested: a click or typed text through the X server's input; false when it failed.
    bool click(int x, int y) const;
    bool type(std::string const& text) const;
    bool key(std::string const& name) const;
    // Nested: xdotool with these arguments on its X server; false when it failed.
    bool xdotool(std::vector<std::string> arguments) const;

private:
    explicit Compositor(std::filesystem::path runtime);
    // Started once it serves clients and, where asked, offers its seat.
    bool start_phoc(std::vector<std::string> environment, bool with_seat, std::vector<std::string> const& options = {});
    bool start_x_server();
    // Runs a client of the compositor; what it wrote, or nullopt when it failed.
    std::optional<std::string> run_client(std::vector<std::string> arguments) const;

    std::filesystem::path m_runtime;
    std::string m_x_display;
    std::unique_ptr<ChildProcess> m_x_server;
    std::unique_ptr<ChildProcess> m_phoc;
    std::unique_ptr<ChildProcess> m_bus;
    std::unique_ptr<ChildProcess> m_keyboard;
};

// An X server of the test's own (Xvfb, 1600×1600 in 24 bits), ended when the result goes; null
// when Xvfb is not installed or did not come up. `display` is its name (":160").
std::unique_ptr<ChildProcess> start_x_server(std::string& display);

// Whether phoc can be started here, and the phone keyboard beside it.
bool phoc_installed();
bool keyboard_installed();

// The box around a picture's pixels that are not black (a window on a compositor's black
// background): x, y, width, height; nullopt when every pixel is black.
struct PictureBox {
    int x { 0 };
    int y { 0 };
    int width { 0 };
    int height { 0 };
};
std::optional<PictureBox> lit_box(RgbPicture const&);

}
