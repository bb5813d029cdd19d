#pragma once

#include "support/ChildProcess.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velloq::test {

// Evolution Data Server as a GNOME or Phosh session runs it, on a session bus of the test's own:
// its source registry and address-book factory, with the user's home and XDG folders in the
// test's folder (the built-in personal book is there at once). Contacts change through EDS's own
// client library, as GNOME Contacts changes them.
class EdsSession {
public:
    explicit EdsSession(std::filesystem::path folder);
    ~EdsSession();
    EdsSession(EdsSession const&) = delete;
    EdsSession& operator=(EdsSession const&) = delete;

    bool running() const { return m_registry != nullptr; }
    // What a client of this session needs: the bus and the home folders.
    std::vector<std::string> const& environment() const { return m_environment; }

    // EDS's processes end (a crash, a session restart), and start again.
    void stop();
    bool start();
    // The address-book factory alone ends (a crash) and starts again; the registry stays.
    void stop_factory();
    bool start_factory();

    // "add BOOK UID NAME NUMBER…", "rename BOOK UID NAME", "remove BOOK UID", "new-book NAME":
    // what the change printed (a new book's uid), nullopt when it failed.
    std::optional<std::string> change(std::vector<std::string> const& arguments) const;

private:
    bool name_owned(char const* name) const;

    std::filesystem::path m_folder;
    std::vector<std::string> m_environment;
    std::unique_ptr<ChildProcess> m_bus;
    std::unique_ptr<ChildProcess> m_registry;
    std::unique_ptr<ChildProcess> m_factory;
};

bool eds_installed();

}
