#pragma once

#include "AsyncCall.h"
#include "GObjectRef.h"
#include "MmsSender.h"
#include "messaging/MmsInbox.h"
#include "platform/MessageStore.h"

#include <gio/gio.h>

#include <functional>
#include <optional>
#include <set>
#include <utility>
#include <string>
#include <vector>

namespace velloq::modem {

// Follows the phone's MMS service (mmsd-tng, "org.ofono.mms" on the session bus) whenever it
// runs: each MMS it received is filed into the message store once, and a message it no longer
// holds (deleted by another program, or while this service was not running) leaves the store.
// Without a session bus or an MMS service nothing is filed and nothing else changes.
class MmsFollower {
public:
    // `own_numbers` gives the phone's numbers as the modem knows them, for messages whose own
    // number the MMS service does not say.
    MmsFollower(platform::MessageStore& store, std::function<std::vector<std::string>()> own_numbers);
    ~MmsFollower();
    MmsFollower(MmsFollower const&) = delete;
    MmsFollower& operator=(MmsFollower const&) = delete;

    // Connects to the session bus; false, said in the log, when there is none.
    bool start();
    // Tells the MMS service what the user did here: messages deleted here are deleted there, those
    // read here are marked read there. Runs by itself after each change of the store.
    void tell_service();

private:
    void appeared();
    void vanished();
    void subscribe();
    void unsubscribe();
    void list_services();
    void list_messages(std::string const& service);
    void take_listing(std::string const& service, GVariant* messages);
    bool file(std::string const& service, std::string const& path, GVariant* properties);
    void remove(std::string const& path);
    void signalled(char const* object, char const* interface, char const* name, GVariant* parameters);
    void call_message(std::string const& path, char const* method);
    void status_changed(std::string const& path, GVariant* parameters);
    void send_error(GVariant* parameters);
    void look_at_store();

    static void on_appeared(GDBusConnection*, gchar const* name, gchar const* owner, gpointer self);
    static void on_vanished(GDBusConnection*, gchar const* name, gpointer self);
    static void on_signal(GDBusConnection*, gchar const* sender, gchar const* object, gchar const* interface, gchar const* name,
        GVariant* parameters, gpointer self);
    static gboolean on_store_check(gpointer self);

    platform::MessageStore& m_store;
    std::function<std::vector<std::string>()> m_own_numbers;
    MmsSender m_sender { m_store };
    GRef<GDBusConnection> m_bus;
    guint m_name_watch { 0 };
    std::vector<guint> m_subscriptions;
    std::set<std::string> m_services;
    // Calls to the MMS service's messages not yet answered, by path and method.
    std::set<std::pair<std::string, std::string>> m_in_flight;
    // The store's change count when it was last looked at, and the timer that looks again while
    // the MMS service runs.
    std::optional<uint64_t> m_store_seen;
    guint m_store_check { 0 };
    // Declared last: calls in flight end (as cancelled) before what they would touch.
    std::unique_ptr<CallScope> m_calls;
};

// An MMS service message's properties as it lists them (a{sv}), made into a received MMS: its
// status must be "received" or "read" (the phone's own sent messages are not filed here); false
// otherwise. What could not be read is said in `problems`.
// `own_numbers` stand for the user where the message does not say its own number.
bool read_received_mms(GVariant* properties, ReceivedMms& mms, std::vector<std::string>& problems, std::vector<std::string> const& own_numbers = {});

}
