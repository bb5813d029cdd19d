#include "shell/StateNotification.h"

#include "platform/RegistryStore.h"
#include "platform/Utf.h"
#include "shell/Log.h"

namespace velloq {

namespace {

using platform::BrokerResult;

// The broker's result codes, as the device's broker reports them.
constexpr int32_t result_ok = 0;
constexpr int32_t result_already_exists = static_cast<int32_t>(0x800704DA);
constexpr int32_t result_not_found = static_cast<int32_t>(0x80070490);
constexpr int32_t result_failed = static_cast<int32_t>(0x80004005);

int32_t result_code(BrokerResult result)
{
    switch (result) {
    case BrokerResult::Registered:
    case BrokerResult::Stopped:
        return result_ok;
    case BrokerResult::AlreadyExists:
        return result_already_exists;
    case BrokerResult::NotFound:
        return result_not_found;
    case BrokerResult::Unavailable:
        return result_failed;
    }
    return result_failed;
}

platform::NotificationRegistration unread_sms_registration(std::u16string_view name, std::u16string_view program_command)
{
    platform::NotificationRegistration registration;
    registration.name = std::u16string(name);
    registration.hive = platform::Hive::CurrentUser;
    registration.key = u"System\\State\\Messages\\SMS\\Unread";
    registration.value_name = u"Count";
    registration.condition.comparison = platform::Comparison::NotEqual;
    registration.condition.mask = 0xFFFFFFFF;
    registration.condition.target = platform::RegistryValue::dword(0);
    registration.command_line = std::u16string(program_command);
    registration.flags = platform::notification_flag_no_name_on_command_line;
    return registration;
}

void log_decision(platform::BrokerDecision const& decision)
{
    using Kind = platform::BrokerDecision::Kind;
    auto& line = log() << u"broker " << log_safe(decision.name) << u": ";
    switch (decision.kind) {
    case Kind::Started:
        line << u"started pid " << decision.pid << u": " << log_safe(decision.command_line);
        break;
    case Kind::StillRunning:
        line << u"not started: pid " << decision.pid << u", started last, still runs";
        break;
    case Kind::ConditionFalse:
        line << u"not started: the condition does not hold";
        break;
    case Kind::StartFailed:
        line << u"could not start " << log_safe(decision.command_line) << u": " << to_utf16(decision.error);
        break;
    }
    line << u"\n";
}

}

void log_broker_decisions()
{
    static bool const installed = [] {
        platform::RegistryStore::instance().set_broker_listener(log_decision);
        return true;
    }();
    (void)installed;
}

bool set_app_notification(std::u16string_view name, std::u16string_view program_command)
{
    log() << u"set_app_notification " << name << u" " << program_command << u"\n";
    log() << u"set_app_notification fun good\n";
    auto result = result_code(platform::RegistryStore::instance().register_notification(unread_sms_registration(name, program_command)));
    log() << u"set_app_notification result=" << result << u"\n";
    return result == result_ok || result == result_already_exists;
}

bool stop_app_notification(std::u16string_view name)
{
    log() << u"stop_app_notification " << name << u"\n";
    log() << u"stop_app_notification fun good\n";
    auto result = result_code(platform::RegistryStore::instance().stop_notification(name));
    log() << u"stop_app_notification result=" << result << u"\n";
    return true;
}

}
