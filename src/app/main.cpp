// The program's entry: the single-instance rule, the application object with its full-screen
// window, the program controller, and the main loop.
#include "forms/MessengerApp.h"
#include "platform/SignalWatcher.h"
#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "shell/GameBase.h"
#include "shell/Log.h"
#include "shell/Stopwatch.h"
#include "skin/ElementRegistry.h"
#include "skin/FormStack.h"

#include "platform/Environment.h"
#include "platform/Window.h"

#include <cstdio>
#include <memory>

using namespace velloq;

int main(int argc, char** argv)
{
    platform::SignalWatcher::block_watched_signals();
    Stopwatch step;
    Stopwatch total;
    std::u16string command_line = command_line_from_arguments(argc, argv);
    if (show_running_instance(command_line, u"Velloq"))
        return 0;
    log() << u"time1: " << step.lap() << u"\n";
    platform::SignalWatcher signals;
    // The element types live as long as the application that builds forms from skins.
    ElementTypes element_types;
    // A program started for a new message shows nothing until its alert rises.
    bool message_mode = MessengerApp::is_message_mode(command_line);
    auto application = std::make_unique<Application>(u"Velloq", message_mode ? WindowStart::Hidden : WindowStart::Shown);
    // Without a display nobody sees the program. Started for a new message it ends at once (the
    // message stays unread and the next start shows it); started by hand it says so and fails,
    // unless running without a display was asked for.
    if ((!application->game().window() || !application->game().display_opened()) && !platform::headless_requested()) {
        if (message_mode) {
            log() << u"message mode: no display to show the alert on; the message waits for the next start\n";
            return 0;
        }
        std::string problem = application->game().video_problem();
        std::fprintf(stderr, "velloq: no display could be opened%s%s; set SDL_VIDEODRIVER=dummy to run without one\n", problem.empty() ? "" : ": ",
            problem.c_str());
        return 1;
    }
    auto forms = std::make_unique<FormStack>(*application);
    application->set_content(forms.get());
    application->set_game_input(false);
    application->set_windowed(false);
    application->set_fullscreen(application->screen_info().orientation);
    log() << u"time2: " << step.lap() << u"\n";
    auto controller = std::make_unique<MessengerApp>(*application, *forms, command_line, ChatModel::Options {}, MessengerApp::Indexing::InBackground);
    controller->use_desktop_notifications(application->game().desktop_display());
    log() << u"time3:" << step.lap() << u"\n";
    log() << u"total_load_time:" << total.lap() << u"\n";
    application->run();
    bool failed = controller->failed();
    controller.reset();
    application->set_content(nullptr);
    forms.reset();
    application.reset();
    return failed ? 1 : 0;
}
