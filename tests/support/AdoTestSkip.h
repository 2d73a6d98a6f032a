// Skipping the PostgreSQL tests when no server runs (a test binary run by
// hand, without the environment scripts/test.sh sets up). Header-only: it is
// the one piece of the ADO test support that needs GoogleTest.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/AdoTestDialects.h"
#include "tests/support/VelmoFixture.h"

namespace velmotest {

// Marks the running test skipped, with the reason, when there is no
// PostgreSQL server; true then. Usable in a fixture's constructor: the test
// body does not run once the test is marked skipped.
inline bool SkipWithoutPgServer()
{
    if (adotest::PgServer()) return false;
    [] { GTEST_SKIP() << adotest::PgNoServerMessage(); }();
    return true;
}

// PgOpener when the server runs. Otherwise the test is marked skipped and a
// SQLite opener lets a fixture that opens databases in its constructor be
// built; the test body never uses it.
inline TUdbOpener PgOpenerOrSkip() { return SkipWithoutPgServer() ? SqliteOpener() : PgOpener(); }

} // namespace velmotest
