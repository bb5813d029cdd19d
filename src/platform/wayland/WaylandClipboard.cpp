#include "platform/wayland/WaylandClipboard.h"

#include "platform/FileDescriptor.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandSeat.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include <algorithm>
#include <array>

namespace velloq::platform::wayland {

namespace {

// Text types, the most exact first; older X programs behind XWayland offer the last ones.
constexpr std::array<char const*, 5> text_types { "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING" };
// A program that offers the clipboard but never sends it must not hang this one.
constexpr uint32_t receive_limit_ms = 1000;
constexpr size_t largest_text = 1 << 20;

// Writes all of `text` to a pipe; a reader that went away ends the write, not the program (the
// SIGPIPE it raises is taken here).
void write_to_pipe(int fd, std::string_view text)
{
    sigset_t pipe_signal;
    sigset_t before;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    size_t sent = 0;
    bool broken = false;
    while (sent < text.size()) {
        ssize_t wrote = write(fd, text.data() + sent, text.size() - sent);
        if (wrote <= 0) {
            broken = wrote < 0 && errno == EPIPE;
            break;
        }
        sent += static_cast<size_t>(wrote);
    }
    if (broken) {
        timespec now {};
        sigtimedwait(&pipe_signal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}

WaylandClipboard::WaylandClipboard(WaylandConnection& connection, WaylandSeat& seat)
    : m_connection(connection)
    , m_seat(seat)
    , m_device(wl_data_device_manager_get_data_device(connection.data_devices(), seat.seat()))
{
    static constexpr wl_data_device_listener listener { &data_offer, &enter, &leave, &motion, &drop, &selection };
    wl_data_device_add_listener(m_device.get(), &listener, this);
}

WaylandClipboard::~WaylandClipboard()
{
    for (auto& [offer, types] : m_offers)
        wl_data_offer_destroy(offer);
}

std::u16string WaylandClipboard::text()
{
    // What this program copied is read from its own memory: asking the compositor would have it
    // ask this program back while it waits.
    if (m_source)
        return to_utf16(m_own_text);
    std::string type = text_type();
    return type.empty() ? std::u16string() : to_utf16(receive(type));
}

bool WaylandClipboard::set_text(std::u16string const& text)
{
    static constexpr wl_data_source_listener listener { &source_target, &source_send, &source_cancelled, &source_unused, &source_unused,
        &source_action };
    Handle<wl_data_source> source(wl_data_device_manager_create_data_source(m_connection.data_devices()));
    if (!source)
        return false;
    wl_data_source_add_listener(source.get(), &listener, this);
    for (char const* type : text_types)
        wl_data_source_offer(source.get(), type);
    wl_data_device_set_selection(m_device.get(), source.get(), m_seat.last_serial());
    m_source = std::move(source);
    m_own_text = to_utf8(text);
    wl_display_flush(m_connection.display());
    return true;
}

std::string WaylandClipboard::text_type() const
{
    auto offer = m_offers.find(m_selection);
    if (!m_selection || offer == m_offers.end())
        return {};
    for (char const* type : text_types) {
        if (std::find(offer->second.begin(), offer->second.end(), type) != offer->second.end())
            return type;
    }
    return {};
}

std::string WaylandClipboard::receive(std::string const& type)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return {};
    FileDescriptor reading(ends[0]);
    wl_data_offer_receive(m_selection, type.c_str(), ends[1]);
    close(ends[1]);
    wl_display_flush(m_connection.display());
    std::string text;
    uint32_t started = tick_count();
    for (;;) {
        int left = static_cast<int>(receive_limit_ms) - static_cast<int>(tick_count() - started);
        pollfd ready { reading.get(), POLLIN, 0 };
        if (left <= 0 || poll(&ready, 1, left) <= 0)
            break;
        char chunk[4096];
        ssize_t got = read(reading.get(), chunk, sizeof chunk);
        if (got <= 0 || text.size() + static_cast<size_t>(got) > largest_text)
            break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

void WaylandClipboard::forget_offer(wl_data_offer* offer)
{
    if (!offer || !m_offers.count(offer))
        return;
    m_offers.erase(offer);
    wl_data_offer_destroy(offer);
}

void WaylandClipboard::data_offer(void* data, wl_data_device*, wl_data_offer* offer)
{
    static constexpr wl_data_offer_listener listener { &offer_type, &offer_actions, &offer_actions };
    auto& self = *static_cast<WaylandClipboard*>(data);
    self.m_offers[offer];
    wl_data_offer_add_listener(offer, &listener, &self.m_offers[offer]);
}

// Dragging into the window is not taken: the offer of a drag goes again when it leaves.
void WaylandClipboard::enter(void*, wl_data_device*, uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t, wl_data_offer* offer)
{
    if (offer)
        wl_data_offer_accept(offer, 0, nullptr);
}

void WaylandClipboard::leave(void*, wl_data_device*)
{
}

void WaylandClipboard::motion(void*, wl_data_device*, uint32_t, wl_fixed_t, wl_fixed_t)
{
}

void WaylandClipboard::drop(void*, wl_data_device*)
{
}

void WaylandClipboard::selection(void* data, wl_data_device*, wl_data_offer* offer)
{
    auto& self = *static_cast<WaylandClipboard*>(data);
    if (self.m_selection != offer)
        self.forget_offer(self.m_selection);
    self.m_selection = offer;
    // Offers other than the selection were drags; they are of no more use.
    for (auto it = self.m_offers.begin(); it != self.m_offers.end();) {
        if (it->first == offer) {
            ++it;
            continue;
        }
        wl_data_offer_destroy(it->first);
        it = self.m_offers.erase(it);
    }
}

void WaylandClipboard::offer_type(void* data, wl_data_offer*, char const* type)
{
    static_cast<std::vector<std::string>*>(data)->emplace_back(type);
}

void WaylandClipboard::offer_actions(void*, wl_data_offer*, uint32_t)
{
}

void WaylandClipboard::source_target(void*, wl_data_source*, char const*)
{
}

void WaylandClipboard::source_send(void* data, wl_data_source*, char const*, int32_t fd)
{
    auto& self = *static_cast<WaylandClipboard*>(data);
    FileDescriptor target(fd);
    // The other program reads as it likes; a blocking write sends all of it.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    write_to_pipe(fd, self.m_own_text);
}

void WaylandClipboard::source_unused(void*, wl_data_source*)
{
}

void WaylandClipboard::source_action(void*, wl_data_source*, uint32_t)
{
}

void WaylandClipboard::source_cancelled(void* data, wl_data_source* source)
{
    auto& self = *static_cast<WaylandClipboard*>(data);
    if (self.m_source.get() == source) {
        self.m_source.reset();
        self.m_own_text.clear();
    }
}

}
