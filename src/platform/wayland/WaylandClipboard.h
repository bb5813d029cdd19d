#pragma once

#include "platform/Clipboard.h"
#include "platform/wayland/WaylandHandles.h"

#include <map>
#include <string>
#include <vector>

namespace velloq::platform::wayland {

class WaylandConnection;
class WaylandSeat;

// The compositor's clipboard (wl_data_device): text the user copied in any program, and text
// this program offers until another program copies something.
class WaylandClipboard : public ClipboardBackend {
public:
    WaylandClipboard(WaylandConnection&, WaylandSeat&);
    ~WaylandClipboard() override;
    WaylandClipboard(WaylandClipboard const&) = delete;
    WaylandClipboard& operator=(WaylandClipboard const&) = delete;

    std::u16string text() override;
    bool set_text(std::u16string const&) override;

private:
    std::string text_type() const;
    std::string receive(std::string const& type);
    void forget_offer(wl_data_offer*);

    static void data_offer(void*, wl_data_device*, wl_data_offer*);
    static void enter(void*, wl_data_device*, uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t, wl_data_offer*);
    static void leave(void*, wl_data_device*);
    static void motion(void*, wl_data_device*, uint32_t, wl_fixed_t, wl_fixed_t);
    static void drop(void*, wl_data_device*);
    static void selection(void*, wl_data_device*, wl_data_offer*);
    static void offer_type(void*, wl_data_offer*, char const*);
    static void offer_actions(void*, wl_data_offer*, uint32_t);
    static void source_unused(void*, wl_data_source*);
    static void source_action(void*, wl_data_source*, uint32_t);
    static void source_target(void*, wl_data_source*, char const*);
    static void source_send(void*, wl_data_source*, char const*, int32_t);
    static void source_cancelled(void*, wl_data_source*);

    WaylandConnection& m_connection;
    WaylandSeat& m_seat;
    Handle<wl_data_device> m_device;
    // Offers announced and not yet let go, with the types each offers.
    std::map<wl_data_offer*, std::vector<std::string>> m_offers;
    wl_data_offer* m_selection { nullptr };
    // What this program offers while it holds the clipboard.
    Handle<wl_data_source> m_source;
    std::string m_own_text;
};

}
