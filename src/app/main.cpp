// The program's entry: the single-instance rule, the application object with its full-screen
// window, and the main loop.
#include "platform/SignalWatcher.h"
#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "shell/GameBase.h"
#include "shell/Log.h"
#include "shell/Stopwatch.h"

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
    auto application = std::make_unique<Application>(u"Velloq");
    application->set_game_input(false);
    application->set_windowed(false);
    application->set_fullscreen(application->screen_info().orientation);
    log() << u"time2: " << step.lap() << u"\n";
    log() << u"time3:" << step.lap() << u"\n";
    log() << u"total_load_time:" << total.lap() << u"\n";
    application->run();
    application.reset();
    return 0;
}
