// Exception classes of the runtime layer and the always-on assertion.
//
// Every failure in the program is an exception derived from rtl::Exception,
// which carries one UTF-8 message. The assertion macro stays in release
// builds: a broken precondition raises EAssertionFailed with the text
// "<message> (<source file>, line <n>)".
#pragma once

#include <exception>
#include <string>

namespace rtl {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }

private:
    std::string message_;
};

// A value could not be converted (text to number, variant to a type, ...).
class EConvertError : public Exception { using Exception::Exception; };
// A text could not be coded in or decoded from Windows-1251 / UTF-8 / UTF-16.
class EEncodingError : public EConvertError { using EConvertError::EConvertError; };
// A variant holds a value of a type that cannot take part in an operation.
class EVariantError : public Exception { using Exception::Exception; };
class EVariantTypeCastError : public EVariantError { using EVariantError::EVariantError; };
// Streams.
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
class EFCreateError : public EStreamError { using EStreamError::EStreamError; };
// Operating-system failures that are not stream failures.
class EOSError : public Exception { using Exception::Exception; };
// Object-lifetime misuse: freeing an object that is still referenced.
class EInvalidPointer : public Exception { using Exception::Exception; };
// A reference of one class used as another.
class EInvalidCast : public Exception { using Exception::Exception; };
// Index out of range in a list.
class EListError : public Exception { using Exception::Exception; };
// A broken precondition.
class EAssertionFailed : public Exception { using Exception::Exception; };

// Texts of the platform's own errors.
inline constexpr const char* SInvalidPointer = "Invalid pointer operation";
inline constexpr const char* SInvalidCast = "Invalid class typecast";
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SAssertionFailed = "Assertion failure";

// Raises EAssertionFailed with "<message> (<file name without folder>, line <line>)".
[[noreturn]] void AssertionFailed(const std::string& message, const char* file, int line);

} // namespace rtl

// Always-on assertion: RTL_ASSERT(cond, "message").
#define RTL_ASSERT(cond, message)                                        \
    do {                                                                 \
        if (!(cond)) ::rtl::AssertionFailed((message), __FILE__, __LINE__); \
    } while (0)
