// The handler guard: no exception ever crosses Qt's event loop.
//
// Every event handler of the program runs inside gui::Guard (directly, or
// through gui::Guarded for a signal connection). An exception that leaves
// the handler is shown in the error box, as the class library shows it: the
// message, with "." appended when its last character's code is above that of
// "."; the application title as caption; the stop icon. Then the program
// goes on with the next event.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace gui {

// The text the error box shows for an exception message.
std::string ExceptionBoxText(std::string_view message);

// Shows the error box for an exception message.
void ShowException(std::string_view message);

// Shows the exception being handled; call only inside a catch block. Never
// raises: a failure while showing is dropped.
void HandleCurrentException() noexcept;

// Runs fn; an exception leaving it is shown and goes no further.
template <class Fn>
void Guard(Fn&& fn) noexcept
{
    try {
        std::forward<Fn>(fn)();
    } catch (...) {
        HandleCurrentException();
    }
}

// Runs fn and returns its result, or fallback when it raised (shown).
template <class T, class Fn>
T GuardOr(T fallback, Fn&& fn) noexcept
{
    try {
        return std::forward<Fn>(fn)();
    } catch (...) {
        HandleCurrentException();
        return fallback;
    }
}

// fn wrapped in Guard, for connecting to a signal:
// connect(button, &QPushButton::clicked, gui::Guarded([this] { ... }));
// fn takes either all of the signal's arguments or none of them.
template <class Fn>
auto Guarded(Fn fn)
{
    return [fn = std::move(fn)](auto&&... args) mutable noexcept {
        Guard([&] {
            if constexpr (std::is_invocable_v<Fn&, decltype(args)...>)
                fn(std::forward<decltype(args)>(args)...);
            else
                fn();
        });
    };
}

} // namespace gui
