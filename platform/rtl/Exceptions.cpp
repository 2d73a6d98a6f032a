// The always-on assertion.
#include "platform/rtl/Exceptions.h"

#include <cstring>

#include "platform/rtl/Format.h"

namespace rtl {

void AssertionFailed(const std::string& message, const char* file, int line)
{
    const char* slash = file ? std::strrchr(file, '/') : nullptr;
    const char* name = slash ? slash + 1 : (file ? file : "");
    throw EAssertionFailed(Format("%s (%s, line %d)", message.c_str(), name, line));
}

} // namespace rtl
