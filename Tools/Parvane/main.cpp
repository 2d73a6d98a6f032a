// Entry of the identifier changer. The main window does not exist yet: the
// program registers its built-in drivers, says that it has no window and ends.
#include <cstdio>

#include "UdbProject/UdbDrivers.h"

int main()
{
    RegisterBuiltInDrivers();
    std::puts("parvane: the program has no window yet.");
    return 0;
}
