// The global string list of long operations.
#include "CoreLib/LongOperations.h"

std::vector<std::string>& LongOperationStrings()
{
    static std::vector<std::string> strings;
    return strings;
}

namespace {
// Start-up.
[[maybe_unused]] const std::vector<std::string>& startUp = LongOperationStrings();
} // namespace
