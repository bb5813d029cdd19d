#include "Installer.h"

#include <iostream>

int main(int argc, char** argv)
{
    return velloq::tools::run_installer(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
