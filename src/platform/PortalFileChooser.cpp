#include "platform/PortalFileChooser.h"

#include "platform/FileSystem.h"
#include "platform/SdBus.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace velloq::platform {

namespace {

constexpr char const* portal_name = "org.freedesktop.portal.Desktop";
constexpr char const* portal_object = "/org/freedesktop/portal/desktop";
// The portal answers OpenFile at once with the request it opened; the user's choice comes later.
constexpr uint64_t open_timeout_us = 10'000'000;

std::string next_token()
{
    static std::atomic<int> counter { 0 };
    return "velloq" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

// The first of the "uris" in a Response's results (a{sv}), or empty.
std::string first_uri(sd_bus_message* results)
{
    std::string found;
    if (sd_bus_message_enter_container(results, 'a', "{sv}") < 0)
        return found;
    while (sd_bus_message_enter_container(results, 'e', "sv") > 0) {
        char const* key = nullptr;
        if (sd_bus_message_read(results, "s", &key) < 0)
            break;
        if (std::strcmp(key, "uris") == 0 && sd_bus_message_enter_container(results, 'v', "as") >= 0) {
            if (sd_bus_message_enter_container(results, 'a', "s") >= 0) {
                char const* uri = nullptr;
                if (sd_bus_message_read(results, "s", &uri) > 0 && uri)
                    found = uri;
                sd_bus_message_skip(results, nullptr);
                sd_bus_message_exit_container(results);
            }
            sd_bus_message_exit_container(results);
        } else {
            sd_bus_message_skip(results, "v");
        }
        sd_bus_message_exit_container(results);
    }
    sd_bus_message_exit_container(results);
    return found;
}

// What the portal's Response said, once it came.
struct Response {
    std::string handle;
    bool came { false };
    uint32_t code { 2 };
    std::string uri;
};

int on_response(sd_bus_message* message, void* data, sd_bus_error*)
{
    auto* response = static_cast<Response*>(data);
    if (response->came || response->handle != sd_bus_message_get_path(message))
        return 0;
    response->came = true;
    if (sd_bus_message_read(message, "u", &response->code) >= 0 && response->code == 0)
        response->uri = first_uri(message);
    return 0;
}

}

PortalFileChooser::PortalFileChooser(std::function<void()> answered)
    : m_answered(std::move(answered))
    , m_worker([this](Worker& worker) { run(worker); })
{
}

PortalFileChooser::~PortalFileChooser() = default;

bool PortalFileChooser::available()
{
    return session_name_has_owner(portal_name);
}

bool PortalFileChooser::choose_picture(std::string const& title)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_open)
            return false;
        m_open = true;
        m_question = title;
    }
    m_worker.wake();
    return true;
}

std::optional<PortalFileChooser::Answer> PortalFileChooser::take_answer()
{
    std::lock_guard lock(m_mutex);
    auto answer = std::move(m_answer);
    m_answer.reset();
    return answer;
}

void PortalFileChooser::run(Worker& worker)
{
    while (worker.wait()) {
        std::optional<std::string> title;
        {
            std::lock_guard lock(m_mutex);
            title = std::exchange(m_question, std::nullopt);
        }
        if (!title)
            continue;
        Answer answer = ask(worker, *title);
        if (worker.stop_requested())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_answer = std::move(answer);
            m_open = false;
        }
        if (m_answered)
            m_answered();
    }
}

PortalFileChooser::Answer PortalFileChooser::ask(Worker& worker, std::string const& title)
{
    Bus bus = open_session_bus();
    if (!bus)
        return { {}, "there is no session bus" };
    sd_bus_set_method_call_timeout(bus.get(), open_timeout_us);
    Response response;
    // Matched before the call: the answer may come before the call's own reply is read.
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus.get(), &slot, nullptr, nullptr, "org.freedesktop.portal.Request", "Response", on_response, &response) < 0)
        return { {}, "the portal's answer cannot be awaited" };
    std::unique_ptr<sd_bus_slot, decltype(&sd_bus_slot_unref)> match(slot, sd_bus_slot_unref);
    BusError error;
    sd_bus_message* reply = nullptr;
    std::string token = next_token();
    int called = sd_bus_call_method(bus.get(), portal_name, portal_object, "org.freedesktop.portal.FileChooser", "OpenFile", error.get(), &reply,
        "ssa{sv}", "", title.c_str(), 3, "handle_token", "s", token.c_str(), "modal", "b", 1, "filters", "a(sa(us))", 1, "Pictures", 3, 1u,
        "image/jpeg", 1u, "image/png", 1u, "image/gif");
    if (called < 0)
        return { {}, std::string("the file chooser did not open: ") + (error.message() ? error.message() : std::strerror(-called)) };
    BusMessage answer(reply);
    char const* handle = nullptr;
    if (sd_bus_message_read(answer.get(), "o", &handle) < 0 || !handle)
        return { {}, "the file chooser gave no request" };
    response.handle = handle;
    while (!response.came && !worker.stop_requested()) {
        int processed = sd_bus_process(bus.get(), nullptr);
        if (processed < 0)
            return { {}, "the session bus went away" };
        if (processed > 0)
            continue;
        pollfd watched { sd_bus_get_fd(bus.get()), static_cast<short>(sd_bus_get_events(bus.get())), 0 };
        if (!worker.wait(-1, { &watched, 1 }))
            break;
    }
    if (!response.came)
        return { {}, "the program ends" };
    if (response.code != 0)
        return { {}, "nothing was chosen" };
    std::string path = path_of_file_uri(response.uri);
    if (path.empty())
        return { {}, "the chosen file is not on this device: " + response.uri };
    return { path, {} };
}

}
