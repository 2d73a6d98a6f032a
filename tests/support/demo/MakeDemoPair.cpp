// parvane-demo <folder>: writes the demo Velmo pair (both halves as Paradox
// tables in that one folder) for trying the program by hand. The folder must
// be an absolute path that does not exist yet.
#include <cstdio>
#include <exception>

#include "tests/support/DemoPair.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n  writes the demo Velmo pair of Paradox tables into <folder>,\n"
                             "  an absolute path that does not exist yet\n",
                     argc > 0 ? argv[0] : "parvane-demo");
        return 2;
    }
    try {
        velmotest::WriteDemoPair(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parvane-demo: %s\n", e.what());
        return 1;
    }
    std::printf("The demo pair is in %s: choose this folder as \"Папка\" for both halves in the open dialog.\n",
                argv[1]);
    return 0;
}
