#include "messaging/AlertRegistration.h"

#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/StateNotification.h"

namespace velloq {

namespace {

constexpr char16_t const* inbox_settings = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Inbox\\Settings";
constexpr char16_t const* notifications_key = u"HKEY_CURRENT_USER\\ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}";
constexpr char16_t const* notification_name = u"Ketra.Velloq.message";

}

AlertRegistration::AlertRegistration(std::u16string program_path)
    : m_program_path(std::move(program_path))
{
}

void AlertRegistration::install()
{
    reg_set_int(inbox_settings, u"SMSNoSentMsg", 1);
    int32_t notification_options = 0;
    reg_get_int(notifications_key, u"Options", notification_options);
    reg_set_int(notifications_key, u"Options", notification_options & ~0x08);
    register_program();
    m_on = true;
    reg_get_bool(registry_key::program, u"Alerts", m_on);
    if (!m_on)
        stop_app_notification(notification_name);
}

void AlertRegistration::finish()
{
    if (!m_on) {
        stop_app_notification(notification_name);
        reg_delete_value(inbox_settings, u"SMSNoSentMsg");
    }
}

void AlertRegistration::set_on(bool on)
{
    m_on = on;
    reg_set_int(registry_key::program, u"Alerts", on ? 1 : 0);
    if (on)
        register_program();
    else
        stop_app_notification(notification_name);
}

void AlertRegistration::register_program()
{
    set_app_notification(notification_name, u"\"" + expand_path(m_program_path) + u"\" message");
}

}
