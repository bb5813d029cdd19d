#pragma once

#include "AsyncCall.h"
#include "messaging/MessagePart.h"
#include "platform/MessageStore.h"

#include <gio/gio.h>

#include <map>
#include <string>
#include <vector>

namespace velloq::modem {

// Sends the outbox's MMS through the phone's MMS service ("SendMessage"), each once. A message
// handed over counts as transmitted and shows as being sent; the MMS service's word on it (its
// status "sent", or an error) takes it to Sent Items, or back to the user as not sent, to be sent
// again only when the user asks.
class MmsSender {
public:
    explicit MmsSender(platform::MessageStore& store);
    MmsSender(MmsSender const&) = delete;
    MmsSender& operator=(MmsSender const&) = delete;

    // Hands every MMS of the outbox that waits to go to `service` of the MMS service on `bus`.
    void send_waiting(GDBusConnection* bus, std::string const& service, GCancellable* calls);
    // The MMS service's status of one of its messages: "sent" or "delivered" settles one handed over.
    void status_is(std::string const& path, std::string const& status);
    // The MMS service could not send the message at `path`.
    void failed(std::string const& path, std::string const& why);
    // The MMS service went away while it was taking messages: whether it has them is not known, so
    // they show as not sent and go again only when the user says.
    void abandon_in_flight();

private:
    struct Waiting {
        platform::Bytes entry;
        std::vector<std::string> recipients;
        std::u16string text;
        std::vector<MessagePart> parts;
        // Where its text is written for the MMS service, which reads it while it takes the message.
        std::string text_file;
    };
    std::vector<Waiting> waiting();
    void hand_over(GDBusConnection* bus, std::string const& service, Waiting message, GCancellable* calls);
    void handed_over(std::string const& service, Waiting const& message, std::string const& path);
    void not_handed_over(Waiting const& message, std::string const& why);
    void show_not_sent(platform::Bytes const& entry, size_t recipients, std::string const& why);
    size_t recipient_count(platform::Bytes const& entry);

    platform::MessageStore& m_store;
    // Messages being handed over, with their recipient count, so a second look meanwhile does not
    // hand one over twice.
    std::map<platform::Bytes, size_t> m_in_flight;
};

// The attachments of an outgoing MMS as the MMS service takes them (a(sss): id, content type, file):
// its text, written to `text_file`, then its parts, each a whole file. Empty when the text cannot
// be written, said in `why`.
GVariant* outgoing_attachments(std::u16string const& text, std::vector<MessagePart> const& parts, std::string const& text_file, std::string& why);

}
