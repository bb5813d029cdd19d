#include "forms/MessengerApp.h"

#include "forms/DesktopAlerts.h"
#include "forms/FormChat.h"
#include "forms/MessageWords.h"
#include "forms/SkinBinding.h"
#include "lang/LanguageTable.h"
#include "messaging/PhoneBook.h"
#include "messaging/SmsLink.h"
#include "platform/Memory.h"
#include "platform/Process.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "shell/Log.h"
#include "shell/Stopwatch.h"
#include "skin/BasicElements.h"
#include "skin/FormStack.h"

#include <algorithm>
#include <cstdio>

namespace velloq {

namespace {

constexpr char16_t const* splash_skin_path = u"%app_path%/skins/bin/splash.skin";
constexpr char16_t const* main_skin_path = u"%app_path%/skins/bin/default.skin";
constexpr char16_t const* alert_skin_path = u"%app_path%/skins/bin/default_alert.skin";
constexpr char16_t const* splash_section = u"FormSplash";
constexpr std::u16string_view open_prefix = u"open:";
constexpr double start_delay = 0.5;
constexpr double poll_period = 1.0;
constexpr double next_turn = 0.001;
constexpr uint32_t progress_frame_ms = 40;

// A failure the user must hear of even with logging off.
void report(std::u16string const& what)
{
    log() << what << u"\n";
    std::fprintf(stderr, "velloq: %s\n", to_utf8(what).c_str());
}

}

MessengerApp::MessengerApp(Application& application, FormStack& stack, std::u16string const& command_line, ChatModel::Options options, Indexing indexing)
    : m_application(application)
    , m_stack(stack)
    , m_model_options(std::move(options))
    , m_indexing(indexing)
    , m_alert_registration(m_model_options.program_path)
    , m_view_action(command_line)
{
    if (is_message_mode(command_line))
        enter_message_mode();
    else
        splash_step();
    m_application.set_listener(this);
    m_main_skin.add_reload_listener(this);
}

void MessengerApp::on_skin_reloaded()
{
    if (!m_alert)
        return;
    m_alert_skin.language().load_language(m_application.name());
    m_alert_skin.send_reload_skin();
}

bool MessengerApp::is_message_mode(std::u16string const& command_line)
{
    // A link's text may say "message" too; it is never the broker's start.
    return command_line.find(u"message") != std::u16string::npos && !looks_like_sms_link(command_line);
}

MessengerApp::~MessengerApp()
{
    m_desktop_alerts.reset();
    m_main_skin.remove_reload_listener(this);
    m_start_timer.cancel();
    m_poll_timer.cancel();
    if (m_application.listener() == this)
        m_application.set_listener(nullptr);
    m_view_action.clear();
    m_chat_list.reset();
    m_alert.reset();
    if (m_splash)
        m_stack.hide(*m_splash, false);
    if (m_model)
        m_alert_registration.finish();
}

ChatModel& MessengerApp::ensure_model()
{
    if (!m_model) {
        m_model = std::make_unique<ChatModel>(m_model_options);
        m_alert_registration.install();
        if (m_indexing == Indexing::InBackground)
            m_indexer = std::make_unique<SearchIndexer>();
    }
    return *m_model;
}

bool MessengerApp::update_chats(bool notify, ChatModel::Progress const& progress)
{
    bool changed = m_model->update_chats(notify, progress);
    if (m_indexer)
        m_indexer->follow(m_model->sms().change_count(), changed);
    return changed;
}

void MessengerApp::splash_step()
{
    try {
        // The splash speaks the user's language too.
        m_splash_skin.language().load_language(m_application.name());
        m_splash_skin.load_skin(splash_skin_path, m_application.screen_info());
        auto splash = std::make_unique<Form>();
        build_required(*splash, m_splash_skin, splash_section);
        m_progress = &bind_element<ProgressElement>(*splash, splash_section, u"progress");
        if (m_splash)
            m_stack.hide(*m_splash, false);
        m_splash = std::move(splash);
        m_stack.show(*m_splash, false, false);
    } catch (...) {
        // The splash only decorates the start: without it the program still starts.
        report(u"MessengerApp::splash_step: " + skin_error_text(std::current_exception()));
    }
    m_start_timer.start(start_delay);
}

void MessengerApp::enter_message_mode()
{
    if (!m_model) {
        ensure_model();
        m_application.hide();
        // With alerts off there is nothing to show: the message waits, unread, for the next start.
        if (!m_alert_registration.on()) {
            log() << u"enter_message_mode: alerts are off\n";
            m_application.quit();
            return;
        }
    }
    m_model->set_full_scan();
    m_poll_timer.start(next_turn);
}

void MessengerApp::on_progress(double fraction)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (!m_progress || !m_splash || m_progress->value() == fraction)
        return;
    m_progress->set_value(fraction);
    // The store reports every message it reads: the screen follows at the frame rate, not at
    // each of a hundred thousand steps.
    if (fraction < 1.0 && platform::tick_count() - m_last_progress_frame < progress_frame_ms)
        return;
    m_last_progress_frame = platform::tick_count();
    m_application.process_pending_messages();
}

// The start's update and contacts: behind the splash (with its progress, no events), or after a
// list shown from the cache (with events, so the list follows).
void MessengerApp::start_chat_model(bool behind_splash)
{
    ChatModel& model = ensure_model();
    Stopwatch watch;
    if (behind_splash)
        update_chats(false, [this](double fraction) { on_progress(fraction); });
    else
        update_chats(true);
    log() << u"update_chats time:" << watch.lap() << u"\n";
    model.assign_contacts();
    log() << u"load_contacts time:" << watch.lap() << u"\n";
    follow_contacts();
    platform::return_free_memory();
    if (behind_splash)
        on_progress(1.0);
}

bool MessengerApp::load_main_skin()
{
    if (!m_main_skin.language().load_language(m_application.name()))
        report(no_languages_message);
    // Without its main skin the program cannot show anything: it says which file failed and
    // ends with a failure, rather than stopping at a missing section.
    if (!m_main_skin.load_skin(main_skin_path, m_application.screen_info())) {
        report(u"MessengerApp::start: the main skin cannot be loaded: " + m_main_skin.load_error());
        m_failed = true;
        return false;
    }
    try {
        m_chat_list.reset();
        m_chat_list = std::make_unique<FormMain>(m_application, m_stack, m_main_skin, *m_model, m_alert_registration, m_indexer.get());
        return true;
    } catch (...) {
        m_chat_list.reset();
        report(u"MessengerApp::start: " + skin_error_text(std::current_exception()));
        m_failed = true;
        return false;
    }
}

// The program's real start, half a second after the splash form appeared.
void MessengerApp::start_step()
{
    Stopwatch watch;
    // A poll would re-enter the update that the start-up runs while it redraws the splash.
    m_poll_timer.cancel();
    // With the chats of the cache the list can show at once; what the store and the contacts add
    // follows right after. A start that opens a chat needs its contacts first.
    m_rest_of_start_due = !ensure_model().chats().empty() && !m_view_action.starts_with(open_prefix);
    if (!m_rest_of_start_due)
        start_chat_model(true);
    log() << u"start time1:" << watch.lap() << u"\n";
    if (!load_main_skin()) {
        m_application.quit();
        return;
    }
    on_resolution_changed();
    m_stack.show(*m_chat_list, false, false);
    if (m_splash)
        m_stack.hide(*m_splash, false);
    perform_view_action();
    m_poll_timer.start(next_turn);
    m_list_on_screen_due = true;
    log() << u"start time2:" << watch.lap() << u"\n";
}

void MessengerApp::on_frame_presented()
{
    // What the user waits for at a start: the first frame with the chat list in it.
    if (!std::exchange(m_list_on_screen_due, false))
        return;
    if (auto since_start = platform::milliseconds_since_start())
        log() << u"chat list on screen:" << *since_start << u"\n";
}

void MessengerApp::follow_contacts()
{
    if (!m_contacts_wakeup) {
        m_contacts_wakeup = std::make_unique<ContactsWakeup>([this] {
            if (!m_model)
                return;
            m_model->poll_contacts();
            follow_contacts();
        });
    }
    m_contacts_wakeup->watch(m_model->contact_descriptors());
}

void MessengerApp::poll_step()
{
    if (!m_model)
        return;
    if (std::exchange(m_rest_of_start_due, false)) {
        start_chat_model(false);
        if (m_chat_list)
            m_chat_list->show_store_problem(m_model->store_problem());
        if (auto message = m_model->take_new_message(); message && m_alert_registration.on())
            show_alert(std::move(*message));
        m_poll_timer.start(poll_period);
        return;
    }
    // The contacts are read when they change; the poll reads them only where that cannot be.
    if (!m_contacts_wakeup || !m_contacts_wakeup->running())
        m_model->poll_contacts();
    if (update_chats(true))
        m_model->name_chats();
    if (m_chat_list)
        m_chat_list->show_store_problem(m_model->store_problem());
    if (auto message = m_model->take_new_message(); message && m_alert_registration.on())
        show_alert(std::move(*message));
    m_poll_timer.start(poll_period);
}

void MessengerApp::perform_view_action()
{
    if (looks_like_sms_link(m_view_action)) {
        open_sms_link();
        return;
    }
    if (m_view_action.starts_with(open_prefix)) {
        log() << u"view_action:" << log_safe(m_view_action) << u"\n";
        if (m_chat_list) {
            m_chat_list->close_forms_above();
        } else {
            for (Form* top = m_stack.top(); top; top = m_stack.top())
                m_stack.hide(*top, false);
        }
        PhoneEntry entry = PhoneEntry::from_typed(m_view_action.substr(open_prefix.size()));
        if (!entry.number.empty() && m_chat_list)
            m_chat_list->open_chat(entry);
    }
    m_application.bring_to_front();
}

// A link clicked on the desktop: the number's chat with the link's text in the reply. A link
// that is not one opens nothing.
void MessengerApp::open_sms_link()
{
    std::string why;
    auto link = parse_sms_link(m_view_action, why);
    if (!link) {
        log() << u"sms link not opened (" << to_utf16(why) << u"): " << log_safe(m_view_action) << u"\n";
        return;
    }
    log() << u"sms link: " << log_safe(link->number) << u"\n";
    if (!m_chat_list || !m_model)
        return;
    PhoneEntry entry = PhoneEntry::from_typed(link->number);
    // The chat being written in stays open with what is typed; another one is opened.
    bool open_already = m_stack.top() == &m_chat_list->chat_form() && m_model->current_chat_key() == entry.key;
    if (!open_already) {
        m_chat_list->close_forms_above();
        m_chat_list->open_chat(entry);
    }
    if (!link->body.empty()) {
        m_model->set_pending_text(link->body);
        m_chat_list->chat_form().take_pending_text();
    }
    m_application.bring_to_front();
}

void MessengerApp::on_other_instance_started(std::u16string const& command_line)
{
    log() << u"on_other_instance_started:" << log_safe(command_line) << u"\n";
    m_view_action = command_line;
    if (is_message_mode(command_line))
        enter_message_mode();
    else if (m_chat_list)
        perform_view_action();
    else if (!(m_splash && m_stack.contains(*m_splash)))
        splash_step();
}

void MessengerApp::show_alert(MessageRecord message)
{
    log() << u"show_alert form count:" << static_cast<int64_t>(m_stack.size()) << u"\n";
    Form* top = m_stack.top();
    if (top && top != m_alert.get() && m_application.is_in_front()) {
        log() << u"show_alert: программа вверху и это не алерт, ничего не делаем\n";
        return;
    }
    log() << u"show_alert view_action: " << log_safe(m_view_action) << u"\n";
    try {
        if (!m_alert) {
            // The alert may come before the main skin (message mode): it takes its texts itself.
            m_alert_skin.language().load_language(m_application.name());
            m_alert_skin.load_skin(alert_skin_path, m_application.screen_info());
            m_alert = std::make_unique<FormAlert>(m_stack, m_alert_skin, ensure_model(), *this);
        }
    } catch (...) {
        report(u"MessengerApp::show_alert: " + skin_error_text(std::current_exception()));
        notify_desktop(message);
        return;
    }
    notify_desktop(message);
    m_alert->form_alert(message);
    m_stack.hide(*m_alert, false);
    m_stack.show(*m_alert, false, true);
    m_application.set_needs_redraw();
    m_application.bring_to_front();
}

void MessengerApp::use_desktop_notifications(bool on)
{
    if (!on) {
        m_desktop_alerts.reset();
        return;
    }
    if (!m_desktop_alerts)
        m_desktop_alerts = std::make_unique<DesktopAlerts>([this](std::u16string const& number) { view_chat_of(number); });
}

// Only while the program is not in front: in front, the chat list already shows the message.
void MessengerApp::notify_desktop(MessageRecord const& message)
{
    if (!m_desktop_alerts || m_application.is_in_front())
        return;
    Correspondent peer = message.peer();
    Chat* chat = m_model ? m_model->find_chat(chat_key_of(message)) : nullptr;
    std::u16string sender = chat && !chat->title().empty() ? chat->title() : (peer.name.empty() ? peer.address : peer.name);
    m_desktop_alerts->show(sender, words_of(message, m_alert_skin.language()), m_alert_skin.language().text_of(u"View"), peer.address);
}

// The desktop notification's "View": what the alert's "View" does.
void MessengerApp::view_chat_of(std::u16string const& number)
{
    log() << u"desktop notification chosen: " << log_safe(number) << u"\n";
    m_view_action = std::u16string(open_prefix) + number;
    if (m_chat_list)
        perform_view_action();
    else if (!(m_splash && m_stack.contains(*m_splash)))
        splash_step();
}

void MessengerApp::on_alert_button(AlertChoice choice)
{
    if (m_desktop_alerts && m_alert && m_alert->view_action().starts_with(open_prefix))
        m_desktop_alerts->withdraw(m_alert->view_action().substr(open_prefix.size()));
    if (choice == AlertChoice::View) {
        m_view_action = m_alert->view_action();
        if (m_chat_list)
            perform_view_action();
        else
            splash_step();
    } else {
        if (m_chat_list)
            m_application.minimize();
        else
            m_application.quit();
    }
}

void MessengerApp::dismiss_alert()
{
    if (!m_alert)
        return;
    if (m_chat_list)
        m_stack.hide(*m_alert, true);
    else
        m_application.quit();
}

// Escape (or the device's back key) on the alert dismisses it.
bool MessengerApp::on_key(KeyEvent const& event)
{
    if (!m_alert || m_stack.top() != m_alert.get() || (event.code != Key::Backspace && event.code != Key::Esc))
        return false;
    if (event.pressed)
        dismiss_alert();
    return true;
}

void MessengerApp::on_resolution_changed()
{
    m_application.set_fullscreen(m_application.screen_info().orientation);
}

}
