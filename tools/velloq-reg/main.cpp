#include "RegCommand.h"
#include "shell/StateNotification.h"

#include <iostream>

int main(int argc, char** argv)
{
    velloq::log_broker_decisions();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return static_cast<int>(velloq::tools::run_reg_command(arguments, std::cout, std::cerr));
}
