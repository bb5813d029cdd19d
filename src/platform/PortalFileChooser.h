#pragma once

#include "platform/Worker.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace velloq::platform {

// Asks the desktop's file chooser (the org.freedesktop.portal.FileChooser portal) for a picture.
// The user may take minutes, so the question waits on a thread of its own; its answer is taken on
// the program's thread.
class PortalFileChooser {
public:
    // `answered` runs on the chooser's thread when an answer came (the caller wakes its loop).
    explicit PortalFileChooser(std::function<void()> answered);
    ~PortalFileChooser();
    PortalFileChooser(PortalFileChooser const&) = delete;
    PortalFileChooser& operator=(PortalFileChooser const&) = delete;

    // Whether the desktop's portal runs on the session bus.
    static bool available();
    // Opens the chooser with `title`, for JPEG, PNG and GIF pictures; false while one is open.
    bool choose_picture(std::string const& title);

    struct Answer {
        // The chosen file; empty when the user cancelled or the portal failed (`why` says which).
        std::string path;
        std::string why;
    };
    std::optional<Answer> take_answer();

private:
    void run(Worker&);
    Answer ask(Worker&, std::string const& title);

    std::function<void()> m_answered;
    std::mutex m_mutex;
    std::optional<std::string> m_question;
    std::optional<Answer> m_answer;
    bool m_open { false };
    // Declared last: it stops and joins before the rest goes.
    Worker m_worker;
};

}
