#pragma once

#include "support/ChildProcess.h"

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

namespace velloq::test {

// A mock of the phone's MMS service (a python-dbusmock template of the tests' own) on a private
// bus that it takes as its session bus, driven through the mock's control interface.
class MockMmsService {
public:
    explicit MockMmsService(std::string const& bus_address);
    ~MockMmsService();
    MockMmsService(MockMmsService const&) = delete;
    MockMmsService& operator=(MockMmsService const&) = delete;

    std::string bus_variable() const { return "DBUS_SESSION_BUS_ADDRESS=" + m_address; }

    struct Attachment {
        std::string id;
        std::string content_type;
        std::string file;
        uint64_t offset { 0 };
        uint64_t length { 0 };
    };
    struct Message {
        std::string status { "received" };
        std::string sender;
        std::string date { "2026-12-08T10:15:30+0100" };
        std::vector<std::string> recipients;
        std::vector<Attachment> attachments;
    };
    // A message fetched now (announced), or one held before anyone looked (listed only): its path.
    std::string receive(Message const& message);
    std::string store(Message const& message);
    // Another program deleting the message, announced or while nobody listened.
    void remove(std::string const& path, bool announce);
    // Another program marking the message read.
    void read_by_another(std::string const& path);
    // The messages a client marked read, and those the service holds now.
    std::vector<std::string> read_marked();
    std::vector<std::string> held();
    // What clients sent through SendMessage: recipients, and each attachment's type and content.
    struct Sent {
        std::vector<std::string> recipients;
        std::vector<std::pair<std::string, std::string>> attachments;
    };
    std::vector<Sent> sent();
    // The phone's number the service gives with messages from now on; empty: it does not know it.
    void set_modem_number(std::string const& number);
    // SendMessage fails with `why` from now on; empty: it works again.
    void refuse_sending(std::string const& why);
    // The network's word on a message sent: "sent", or "failed".
    void send_outcome(std::string const& path, std::string const& status);

private:
    std::string add(char const* method, Message const& message);
    GVariant* call(char const* method, GVariant* parameters);
    std::vector<std::string> call_for_paths(char const* method);

    std::string m_address;
    std::unique_ptr<ChildProcess> m_mock;
    GDBusConnection* m_connection { nullptr };
};

}
