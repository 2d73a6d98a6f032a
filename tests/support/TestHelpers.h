// Small helpers shared by the test suites: the message of the exception a
// call raises, and little-endian bytes written by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

namespace testing_support {

// The message of the E that f raises; a note when it raises something else
// or nothing.
template <class E>
std::string RaisedMessage(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("unexpected exception: ") + e.what();
    }
    return "nothing raised";
}

// Little-endian bytes written by hand, for comparing with what a writer
// produces and for feeding a reader. Derived is the class the chained calls
// return, so a suite can add calls of its own (LeBytesOf<MyBytes>).
template <class Derived>
class LeBytesOf {
public:
    Derived& U8(int v)
    {
        s_.push_back(static_cast<char>(v & 0xFF));
        return self();
    }
    Derived& I16(int v) { return U8(v).U8(v >> 8); }
    Derived& I32(std::int32_t v)
    {
        const auto u = static_cast<std::uint32_t>(v);
        return U8(static_cast<int>(u)).U8(static_cast<int>(u >> 8)).U8(static_cast<int>(u >> 16)).U8(static_cast<int>(u >> 24));
    }
    Derived& Dbl(double d)
    {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        for (int i = 0; i < 8; ++i) U8(static_cast<int>(bits >> (8 * i)));
        return self();
    }
    Derived& Pt(double x, double y) { return Dbl(x).Dbl(y); }
    Derived& Raw(const std::string& raw)
    {
        s_ += raw;
        return self();
    }
    Derived& Fill(int count, int byte)
    {
        s_.append(static_cast<std::size_t>(count), static_cast<char>(byte));
        return self();
    }
    const std::string& str() const { return s_; }
    std::size_t size() const { return s_.size(); }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
    std::string s_;
};

class LeBytes : public LeBytesOf<LeBytes> {};

} // namespace testing_support
