#pragma once

#include "forms/ContactsWakeup.h"
#include "forms/FormAlert.h"
#include "forms/FormMain.h"
#include "messaging/AlertRegistration.h"
#include "messaging/ChatModel.h"
#include "search/SearchIndexer.h"
#include "shell/ApplicationListener.h"
#include "shell/Timer.h"
#include "skin/Properties.h"

#include <memory>
#include <string>

namespace velloq {

class Application;
class DesktopAlerts;
class Form;
class FormStack;
class ProgressElement;

// The program controller: shows the splash form, starts the chat model behind it, then shows
// the chat list; polls the store once a second; raises the new-message alert; and takes the
// command lines of later starts ("message", "open:NUMBER").
class MessengerApp final : public ApplicationListener, public AlertButtonListener, public ReloadListener {
public:
    // How the search index keeps up with new messages: by each search, or on a thread of its own
    // from the program's start (the program).
    enum class Indexing { BySearch, InBackground };
    MessengerApp(Application&, FormStack&, std::u16string const& command_line, ChatModel::Options = {}, Indexing = Indexing::BySearch);
    // On a desktop a new message, while the program is not in front, also raises the desktop's
    // notification; its "View" opens the chat as the alert's does.
    void use_desktop_notifications(bool on);
    // A command line of the notification broker: wait for a new message, show only its alert.
    // The program could not show itself (its main skin failed): it ends with a failure code.
    bool failed() const { return m_failed; }
    static bool is_message_mode(std::u16string const& command_line);
    ~MessengerApp() override;
    // ReloadListener of the main skin: a new language reaches the alert too.
    void on_skin_reloaded() override;
    MessengerApp(MessengerApp const&) = delete;
    MessengerApp& operator=(MessengerApp const&) = delete;

    // Raises the alert for a new message unless the user is looking at the program.
    void show_alert(MessageRecord message);
    void perform_view_action();
    void notify_desktop(MessageRecord const&);
    void view_chat_of(std::u16string const& number);
    void open_sms_link();

    // ApplicationListener.
    void on_other_instance_started(std::u16string const& command_line) override;
    bool on_close_requested() override { return true; }
    void on_resolution_changed() override;
    void on_frame_presented() override;
    bool on_key(KeyEvent const&) override;
    // AlertButtonListener.
    void on_alert_button(AlertChoice) override;

    // What the controller holds, for the program's own checks.
    ChatModel* model() const { return m_model.get(); }
    AlertRegistration& alert_registration() { return m_alert_registration; }
    Form* splash_form() const { return m_splash.get(); }
    ProgressElement* progress() const { return m_progress; }
    FormAlert* alert_form() const { return m_alert.get(); }
    FormMain* chat_list() const { return m_chat_list.get(); }
    std::u16string const& view_action() const { return m_view_action; }

private:
    void splash_step();
    void enter_message_mode();
    void start_step();
    void poll_step();
    // Reads the contacts folders' changes once there are some, and waits for the next.
    void follow_contacts();
    void on_progress(double fraction);
    void start_chat_model(bool behind_splash);
    bool load_main_skin();
    void dismiss_alert();
    ChatModel& ensure_model();
    // The model's update, with the search indexer told of what changed.
    bool update_chats(bool notify, ChatModel::Progress const& = {});

    Application& m_application;
    FormStack& m_stack;
    ChatModel::Options m_model_options;
    Indexing m_indexing;
    // Installed with the chat model, at the start of the program's work.
    AlertRegistration m_alert_registration;
    // Destroyed in reverse: timers first, the chat model last.
    std::unique_ptr<ChatModel> m_model;
    // Made with the model; it outlives the forms that search.
    std::unique_ptr<SearchIndexer> m_indexer;
    Properties m_splash_skin;
    std::unique_ptr<Form> m_splash;
    ProgressElement* m_progress { nullptr };
    uint32_t m_last_progress_frame { 0 };
    Properties m_alert_skin;
    std::unique_ptr<FormAlert> m_alert;
    std::unique_ptr<DesktopAlerts> m_desktop_alerts;
    Properties m_main_skin;
    std::unique_ptr<FormMain> m_chat_list;
    std::u16string m_view_action;
    Timer m_start_timer { [this] { start_step(); } };
    Timer m_poll_timer { [this] { poll_step(); } };
    std::unique_ptr<ContactsWakeup> m_contacts_wakeup;
    bool m_failed { false };
    // The chat list was shown and its first frame has not reached the screen yet.
    bool m_list_on_screen_due { false };
    // The chat list was shown from the cache; the store is scanned and the contacts read next.
    bool m_rest_of_start_due { false };
};

}
