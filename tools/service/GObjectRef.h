#pragma once

#include <glib-object.h>

#include <memory>
#include <string>
#include <utility>

namespace velloq::service {

// Owns one reference of a GObject.
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template<typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

// Owns a GError; its message, or "" when there is none.
class GErrorHolder {
public:
    GErrorHolder() = default;
    GErrorHolder(GErrorHolder const&) = delete;
    GErrorHolder& operator=(GErrorHolder const&) = delete;
    GError** out() { return &m_raw; }
    GError const* get() const { return m_raw; }
    ~GErrorHolder()
    {
        if (m_raw)
            g_error_free(m_raw);
    }
    std::string message() const { return m_raw ? m_raw->message : ""; }
    explicit operator bool() const { return m_raw != nullptr; }

private:
    GError* m_raw { nullptr };
};

// A signal connection that ends with its owner.
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id)
        : m_instance(instance)
        , m_id(id)
    {
    }
    SignalConnection(SignalConnection const&) = delete;
    SignalConnection& operator=(SignalConnection const&) = delete;
    SignalConnection(SignalConnection&& other) noexcept
        : m_instance(std::exchange(other.m_instance, nullptr))
        , m_id(std::exchange(other.m_id, 0))
    {
    }
    SignalConnection& operator=(SignalConnection&& other) noexcept
    {
        if (this != &other) {
            disconnect();
            m_instance = std::exchange(other.m_instance, nullptr);
            m_id = std::exchange(other.m_id, 0);
        }
        return *this;
    }
    ~SignalConnection() { disconnect(); }

private:
    void disconnect()
    {
        if (m_instance && m_id)
            g_signal_handler_disconnect(m_instance, m_id);
    }
    gpointer m_instance { nullptr };
    gulong m_id { 0 };
};

}
