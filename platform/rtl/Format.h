// printf-style formatting into a UTF-8 std::string.
//
// Only %s, %d, %u, %x, %X, %c, %% and the width/precision flags are meant to be
// used: they do not depend on the C locale. Floating-point numbers are turned
// into text with rtl::FloatToStr (NumText.h), never with %f here.
#pragma once

#include <string>

namespace rtl {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace rtl
