// Writes its arguments after the first, one per line, to the file named by the first, through a
// temporary name so that a waiting test never reads a half-written file.
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::string target = argv[1];
    std::string temporary = target + ".part";
    {
        std::ofstream out(temporary);
        for (int i = 2; i < argc; ++i)
            out << argv[i] << "\n";
    }
    return std::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : 1;
}
