#pragma once

#include "support/ChildProcess.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velloq::test {

// A Wayland compositor of the test's own (phoc, as on a phone) in a runtime folder of its own,
// ended when the object goes. Headless it has outputs but no seat, as on a server.
class Compositor {
public:
    // Null when phoc is not installed or its socket did not appear.
    static std::unique_ptr<Compositor> start_headless();
    ~Compositor();
    Compositor(Compositor const&) = delete;
    Compositor& operator=(Compositor const&) = delete;

    // What a client needs to reach it: "XDG_RUNTIME_DIR=…" and "WAYLAND_DISPLAY=…".
    std::vector<std::string> client_environment() const;

private:
    Compositor(std::filesystem::path runtime, std::vector<std::string> const& environment);
    std::filesystem::path m_runtime;
    ChildProcess m_process;
};

// Whether phoc can be started here.
bool phoc_installed();

}
