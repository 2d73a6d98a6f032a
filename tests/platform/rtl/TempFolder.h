// The runtime tests' name for the shared temporary test folder.
#pragma once

#include "tests/support/TempFolder.h"

namespace rtl::test {
using TempFolder = testing_support::TempFolder;
} // namespace rtl::test
