#pragma once

#include <string>

namespace velloq {

// The program's registration with the notification broker, as the "Alerts" setting says: while
// alerts are on, a new message starts the program with "message"; while they are off nothing is
// started, and the program's traces (the registration, "SMSNoSentMsg") go when it ends.
class AlertRegistration {
public:
    // `program_path` is the program the broker starts (it may hold %app_path%).
    explicit AlertRegistration(std::u16string program_path);
    // At the program's start: the registration as "Alerts" says. A program that ended without its
    // clean-up (a crash) must not leave deliveries starting it while alerts are off.
    void install();
    // At the program's end.
    void finish();

    bool on() const { return m_on; }
    // Turns alerts on or off, remembered as "Alerts", and registers or withdraws accordingly.
    void set_on(bool on);

private:
    void register_program();

    std::u16string m_program_path;
    bool m_on { true };
};

}
