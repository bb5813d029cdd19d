#pragma once

#include <gio/gio.h>

#include <memory>

namespace velloq::modem {

// GLib's asynchronous calls report to a C callback; this carries a C++ function there (one that
// may own what it captured). The function always runs (also when the call was cancelled), so it
// must finish the call and check `cancelled` before it touches an object that may be gone.
class AsyncDone {
public:
    virtual ~AsyncDone() = default;
    virtual void done(GObject* source, GAsyncResult* result) = 0;
};

template<typename Function>
class AsyncDoneWith final : public AsyncDone {
public:
    explicit AsyncDoneWith(Function function)
        : m_function(std::move(function))
    {
    }
    void done(GObject* source, GAsyncResult* result) override { m_function(source, result); }

private:
    Function m_function;
};

inline void finish_async(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<AsyncDone> done(static_cast<AsyncDone*>(data));
    done->done(source, result);
}

template<typename Function>
gpointer async_done(Function function)
{
    return static_cast<AsyncDone*>(new AsyncDoneWith<Function>(std::move(function)));
}

inline bool cancelled(GError const* error)
{
    return error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// A cancellable that cancels when its owner ends: calls still in flight then report
// cancellation instead of reaching the owner.
class CallScope {
public:
    CallScope()
        : m_cancellable(g_cancellable_new())
    {
    }
    ~CallScope()
    {
        g_cancellable_cancel(m_cancellable);
        g_object_unref(m_cancellable);
    }
    CallScope(CallScope const&) = delete;
    CallScope& operator=(CallScope const&) = delete;
    GCancellable* get() const { return m_cancellable; }

private:
    GCancellable* m_cancellable;
};

}
