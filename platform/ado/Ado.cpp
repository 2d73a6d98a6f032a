// The implementation NewConnection and NewCommand make their objects of.
#include "platform/ado/Ado.h"

#include <atomic>

#include "platform/ado/OdbcCommand.h"
#include "platform/ado/OdbcConnection.h"

namespace ado {

namespace {

// nullptr: the implementation over unixODBC. Read by every thread that makes
// a connection (the database-name lookup makes one on a thread of its own).
std::atomic<Implementation*> replacement{nullptr};

} // namespace

Implementation* SetImplementation(Implementation* implementation) noexcept
{
    return replacement.exchange(implementation);
}

rtl::RefPtr<Connection> NewConnection()
{
    if (Implementation* other = replacement.load()) return other->NewConnection();
    return rtl::MakeRef<odbc::TOdbcConnection>();
}

rtl::RefPtr<Command> NewCommand()
{
    if (Implementation* other = replacement.load()) return other->NewCommand();
    return rtl::MakeRef<odbc::TOdbcCommand>();
}

} // namespace ado
