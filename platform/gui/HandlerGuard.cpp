// The handler guard and the class library's display of an exception.
#include "platform/gui/HandlerGuard.h"

#include <exception>

#include "platform/gui/MessageBoxes.h"
#include "platform/rtl/Exceptions.h"

namespace gui {

namespace {

// Shown for an exception that carries no message of its own.
constexpr const char* kUnknownException = "Unknown exception";

} // namespace

std::string ExceptionBoxText(std::string_view message)
{
    std::string text(message);
    // Every byte of a multi-byte UTF-8 character is 0x80 or above, so the
    // last byte is above "." exactly when the last code point is.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    return text;
}

void ShowException(std::string_view message)
{
    ShowErrorBox(ExceptionBoxText(message));
}

void HandleCurrentException() noexcept
{
    try {
        try {
            throw;
        } catch (const rtl::Exception& e) {
            ShowException(e.Message());
        } catch (const std::exception& e) {
            ShowException(e.what());
        } catch (...) {
            ShowException(kUnknownException);
        }
    } catch (...) {
        // Showing failed (out of memory, or a failing answerer): nothing more to do.
    }
}

} // namespace gui
