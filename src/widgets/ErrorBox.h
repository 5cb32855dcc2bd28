#pragma once
// The default error handler's box, shared by the application object and
// every window: an error that escapes a handler is shown captioned with the
// application title, and the program goes on.

#include <QString>
#include <exception>
#include <utility>

// The text the default error handler shows for an error message: a full
// stop is added when the last character's code is above 46 ('.'), so none
// after ")" and one after a letter or a digit.
QString ErrorMessageText(const QString &Msg);

// Shows an error the way the default handler does (caption the application
// title, error icon, OK), through the message presenter when one is set.
void ShowException(const std::exception &E);
// Inside a handler of any other exception: "Unknown error", with the
// exception's type when the runtime can name it.
void ShowUnknownException();

// Runs Handler and shows whatever it throws like the default handler does.
// Slots wired to widget signals use it, so that errors never unwind through
// Qt's code. Returns false when an error was caught.
template <class F>
bool RunGuarded(F &&Handler) {
    try {
        std::forward<F>(Handler)();
        return true;
    } catch (const std::exception &E) {
        ShowException(E);
    } catch (...) {
        ShowUnknownException();
    }
    return false;
}
