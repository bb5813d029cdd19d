#pragma once

#include "support/ChildProcess.h"

#include <gio/gio.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velloq::test {

// A private system bus with a mock ModemManager on it (a python-dbusmock template of the
// tests' own), driven through the mock's control interface. The bus, the mock and the
// connection end with the object.
class MockModemManager {
public:
    explicit MockModemManager(std::filesystem::path const& folder);
    ~MockModemManager();
    MockModemManager(MockModemManager const&) = delete;
    MockModemManager& operator=(MockModemManager const&) = delete;

    // What a process needs to find this bus as its system bus.
    std::string bus_variable() const { return "DBUS_SYSTEM_BUS_ADDRESS=" + m_address; }
    // The private bus's address, which other mocks may share.
    std::string const& address() const { return m_address; }
    // ModemManager crashing, and coming back without modems.
    void stop();
    void start();
    // The system bus going away.
    void stop_bus();
    // ModemManager's bus name: what tells one run of it from the next.
    std::string instance();

    std::string add_modem(int32_t state);
    void set_modem_state(std::string const& modem, int32_t state);
    void remove_modem(std::string const& modem);
    // A message lying on the modem before anyone looks (no signal).
    std::string store_incoming(std::string const& modem, std::string const& number, std::string const& text);
    std::string receive(std::string const& modem, std::string const& number, std::string const& text, uint32_t state,
        std::string const& timestamp = "2026-12-08T10:15:30+01:00");
    void receive_many(std::string const& modem, uint32_t count);
    void complete_message(std::string const& path, std::string const& text);
    std::string receive_status_report(std::string const& modem, std::string const& number, uint32_t reference, uint32_t delivery_state);
    std::string receive_data(std::string const& modem, std::string const& number, std::vector<uint8_t> const& data);
    std::string receive_flash(std::string const& modem, std::string const& number, std::string const& text);
    // ModemManager deleting a message by itself.
    void delete_message(std::string const& path);
    // A send that timed out in the modem turns out to have gone.
    void finish_send(std::string const& path);
    // "ok", "refuse", "refuse:NUMBER", "timeout", "slow:SECONDS", "die".
    void set_send_mode(std::string const& mode);
    // The reference the last message got: the next one gets this plus one, modulo 256.
    void set_reference(uint32_t reference);
    struct Sent {
        std::string number;
        std::string text;
        bool report_requested { false };
        uint32_t reference { 0 };
    };
    std::vector<Sent> sent();
    uint32_t message_count(std::string const& modem);

private:
    GVariant* call(char const* method, GVariant* parameters);
    void call_ignoring_reply(char const* method, GVariant* parameters);
    uint32_t call_for_count(char const* method, GVariant* parameters);
    std::string call_for_path(char const* method, GVariant* parameters);

    std::string m_address;
    std::unique_ptr<ChildProcess> m_bus;
    std::unique_ptr<ChildProcess> m_mock;
    GDBusConnection* m_connection { nullptr };
};

}
