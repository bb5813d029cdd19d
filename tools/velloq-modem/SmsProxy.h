#pragma once

#include "AsyncCall.h"
#include "GObjectRef.h"

#include <libmm-glib.h>

#include <string>
#include <utility>

namespace velloq::modem {

// Makes the proxy of the modem message at `path` without waiting. `done(sms, error)` runs with
// the proxy (null when it could not be made) unless `cancellable` was cancelled meanwhile.
template<typename Done>
void make_sms_proxy(GDBusConnection* bus, std::string const& path, GCancellable* cancellable, Done done)
{
    g_async_initable_new_async(MM_TYPE_SMS, G_PRIORITY_DEFAULT, cancellable, finish_async,
        async_done([done = std::move(done)](GObject* source, GAsyncResult* result) mutable {
            GErrorHolder error;
            GRef<MMSms> sms(MM_SMS(g_async_initable_new_finish(G_ASYNC_INITABLE(source), result, error.out())));
            if (!cancelled(error.get()))
                done(std::move(sms), error);
        }),
        "g-flags", G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START, "g-name", MM_DBUS_SERVICE, "g-connection", bus, "g-object-path", path.c_str(),
        "g-interface-name", MM_DBUS_INTERFACE_SMS, nullptr);
}

}
