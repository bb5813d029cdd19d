#include "forms/DesktopAlerts.h"

#include "platform/Utf.h"
#include "shell/Log.h"

namespace velloq {

namespace {

// A notification shows a few lines; the rest of a long text is the chat's to show.
constexpr size_t longest_body = 300;

bool is_noncharacter(char32_t c)
{
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

// A message's words as a notification service may show them: no control character (line breaks
// stay in a body), no direction override that could turn the text around, no noncharacter (D-Bus
// refuses those) and, for a body, which servers read as markup, "&", "<" and ">" escaped.
std::u16string notification_text(std::u16string_view text, bool body)
{
    std::u16string clean;
    for (size_t at = 0; at < text.size(); ++at) {
        char32_t c = text[at];
        bool pair = c >= 0xD800 && c <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
        if (pair)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++at] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c == u'\n' && body)
            clean += u'\n';
        else if (c < 0x20 || (c >= 0x7F && c < 0xA0) || reorders_line(c))
            clean += c == u'\t' || c == u'\n' || c == u'\r' ? u" " : u"";
        else if (is_noncharacter(c))
            clean += u'\uFFFD';
        else if (body && c == u'&')
            clean += u"&amp;";
        else if (body && c == u'<')
            clean += u"&lt;";
        else if (body && c == u'>')
            clean += u"&gt;";
        else if (c >= 0x10000)
            clean += text.substr(at - 1, 2);
        else
            clean += static_cast<char16_t>(c);
    }
    return clean;
}

// At most `longest` characters, never half of a surrogate pair.
std::u16string shortened(std::u16string const& text, size_t longest)
{
    if (text.size() <= longest)
        return text;
    size_t cut = longest;
    if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF)
        --cut;
    return text.substr(0, cut) + u"…";
}

}

DesktopAlerts::DesktopAlerts(Viewer view)
    : m_view(std::move(view))
    , m_scheduler(CActiveScheduler::current())
{
    if (m_scheduler)
        m_scheduler->set_active(*this);
    m_bus = std::make_unique<platform::DesktopNotifications>([this](std::string const& number) { chosen_on_bus_thread(number); },
        [](std::string const& line) { log() << to_utf16(line) << u"\n"; });
}

DesktopAlerts::~DesktopAlerts()
{
    m_bus.reset();
    if (m_scheduler)
        m_scheduler->cancel(*this);
}

void DesktopAlerts::show(std::u16string const& sender, std::u16string const& text, std::u16string const& view_label, std::u16string const& number)
{
    std::u16string body = notification_text(shortened(text, longest_body), true);
    m_bus->show({ to_utf8(notification_text(sender, false)), to_utf8(body), to_utf8(notification_text(view_label, false)), to_utf8(number) });
    log() << u"desktop notification: " << log_safe(sender) << u"\n";
}

void DesktopAlerts::withdraw(std::u16string const& number)
{
    m_bus->withdraw(to_utf8(number));
}

void DesktopAlerts::chosen_on_bus_thread(std::string const& number)
{
    {
        std::lock_guard lock(m_mutex);
        m_chosen.push_back(number);
    }
    signal();
}

// One completion stands for any number of choices until `run` takes them.
void DesktopAlerts::signal()
{
    if (m_scheduler && !m_signalled.exchange(true))
        m_scheduler->notify(*this);
}

void DesktopAlerts::run()
{
    m_scheduler->set_active(*this);
    m_signalled = false;
    std::vector<std::string> chosen;
    {
        std::lock_guard lock(m_mutex);
        chosen.swap(m_chosen);
    }
    for (auto const& number : chosen)
        m_view(to_utf16(number));
}

void DesktopAlerts::do_cancel()
{
    signal();
}

}
