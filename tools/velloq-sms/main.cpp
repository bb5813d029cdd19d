#include "SmsCommand.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return static_cast<int>(velloq::tools::run_sms_command(arguments, std::cout, std::cerr));
}
