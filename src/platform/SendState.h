#pragma once

#include <cstdint>

namespace velloq::platform {

// How far an outgoing message got to one recipient, as the store keeps it (Tag::RecipientState). A
// recipient row without one is on its way (in the outbox) or sent (in Sent Items).
enum class SendState : int64_t {
    Sending = 0,
    NotSent = 1,
    Sent = 2,
    Delivered = 3,
    NotDelivered = 4,
};

}
