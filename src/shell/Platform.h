#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velloq {

// True on a phone without a touch screen, whose system bars have fixed heights by screen width.
// Linux phones and desktops are touch or pointer devices; VELLOQ_PLATFORM=smartphone makes one
// behave as a keypad phone. Asked and logged once per process.
bool is_smartphone();

// Opens a file or starts a program with parameters, as the device's shell does. The device's
// system programs map to this platform's means: "%windows%/iexplore.exe" opens the web address
// with xdg-open, "%windows%/tmail.exe" with "-RunInBKG" starts the transmitter (velloq-sms
// transmit) in the background and with mail parameters opens a "mailto:" address with
// xdg-open; another executable is started with the parameters as its arguments; any other file
// (a help page) opens with xdg-open. No shell is ever involved: text from a message reaches the
// started program as one argument. True when the program could be started.
bool execute_file(std::u16string const& file, std::u16string const& parameters);

// Whether a link found in a text may be opened as a web address: "http://" and "https://" ones,
// and those without a scheme ("www.example.org", "example.org"), which get "http://". Any other
// scheme (file:, smb:, a program's own) is never handed to the opener.
bool is_web_address(std::u16string_view link);

// Starts a program with exactly these arguments, each one argument however many blanks it holds.
bool run_program(std::u16string const& program, std::vector<std::u16string> const& arguments);

// Asks the platform's dialler (the "tel:" handler) to call the number.
bool make_call(std::u16string const& number);

}
