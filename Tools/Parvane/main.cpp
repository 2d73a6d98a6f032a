// Entry of the identifier changer. The main window does not exist yet: the
// program starts, says so and ends.
#include <cstdio>

int main()
{
    std::puts("parvane: the program has no window yet.");
    return 0;
}
