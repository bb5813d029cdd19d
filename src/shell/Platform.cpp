#include "shell/Platform.h"

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/Utf.h"
#include "platform/Environment.h"
#include "shell/Log.h"
#include "shell/Paths.h"


namespace velloq {

namespace {

std::u16string platform_type()
{
    std::string chosen = platform::environment_value("VELLOQ_PLATFORM");
    return chosen.empty() ? u"Linux" : to_utf16(chosen);
}

}

bool is_smartphone()
{
    static bool const smartphone = [] {
        std::u16string type = platform_type();
        log() << u"static_capability_is_smartphone=" << type << u"\n";
        return fold_case(type) == u"smartphone";
    }();
    return smartphone;
}

namespace {

bool start(std::vector<std::u16string> const& arguments)
{
    std::string error;
    if (platform::start_detached(arguments, error))
        return true;
    log() << u"execute_file: " << to_utf16(error) << u"\n";
    return false;
}

bool open_with_desktop(std::u16string const& target)
{
    return start({ u"xdg-open", target });
}

// A web address without a scheme gets "http://", so that it can never read as an option.
std::u16string web_address(std::u16string const& text)
{
    return text.find(u"://") == std::u16string::npos ? u"http://" + text : text;
}

// The mail address of the mail program's parameters ("-to addr" or the address alone).
std::u16string mail_address(std::u16string const& parameters)
{
    auto arguments = platform::split_command_line(parameters);
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == u"-to" && i + 1 < arguments.size())
            return arguments[i + 1];
    }
    for (auto const& argument : arguments) {
        if (argument.find(u'@') == std::u16string::npos)
            continue;
        // "mailto:" + address, as the chat form passes it, is the address.
        return argument.starts_with(u"mailto:") ? argument.substr(7) : argument;
    }
    return {};
}

bool ends_with_program(std::u16string const& path, std::u16string_view name)
{
    return path.size() > name.size() && path.ends_with(name) && path[path.size() - name.size() - 1] == u'/';
}

}

bool is_web_address(std::u16string_view link)
{
    size_t scheme_end = link.find(u"://");
    if (scheme_end == std::u16string_view::npos) {
        // A colon after a host ("example.org:8080") is a port; one before any dot names a scheme.
        std::u16string_view before_colon = link.substr(0, link.find(u':'));
        return !link.empty() && (before_colon.size() == link.size() || before_colon.find(u'.') != std::u16string_view::npos);
    }
    std::u16string scheme = fold_case(link.substr(0, scheme_end));
    return scheme == u"http" || scheme == u"https";
}

bool execute_file(std::u16string const& file, std::u16string const& parameters)
{
    std::u16string expanded = expand_path(file);
    log() << u"execute_file(" << log_safe(expanded) << u"} {" << log_safe(parameters) << u")\n";
    if (ends_with_program(expanded, u"iexplore.exe")) {
        if (!is_web_address(parameters)) {
            log() << u"execute_file: not a web address\n";
            return false;
        }
        return open_with_desktop(web_address(parameters));
    }
    if (ends_with_program(expanded, u"tmail.exe")) {
        if (parameters == u"-RunInBKG")
            return start({ expand_path(u"%windows%/velloq-sms"), u"transmit" });
        std::u16string address = mail_address(parameters);
        return !address.empty() && open_with_desktop(u"mailto:" + address);
    }
    std::string path = to_utf8(expanded);
    if (platform::is_executable_file(path)) {
        std::vector<std::u16string> arguments { expanded };
        for (auto& argument : platform::split_command_line(parameters))
            arguments.push_back(std::move(argument));
        return start(arguments);
    }
    if (!platform::path_exists(path))
        return false;
    return open_with_desktop(expanded);
}

bool run_program(std::u16string const& program, std::vector<std::u16string> const& arguments)
{
    std::vector<std::u16string> command { expand_path(program) };
    command.insert(command.end(), arguments.begin(), arguments.end());
    log() << u"run_program(" << command.front() << u")\n";
    return start(command);
}

bool make_call(std::u16string const& number)
{
    return !number.empty() && open_with_desktop(u"tel:" + number);
}

}
