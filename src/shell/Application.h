#pragma once
// The application object. Its notify() override is the default error
// handler: an exception that escapes an event handler is caught there, shown
// in an error box captioned with the application title, and the program goes
// on with its event loop. No exception ever crosses Qt's event loop.

#include <QApplication>
#include <QString>
#include <QStringList>
#include <exception>
#include <utility>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *Receiver, QEvent *Event) override;
};

// The text the default error handler shows for an error message: a full
// stop is added when the last character's code is above 46 ('.'), so none
// after ")" and one after a letter or a digit.
QString ErrorMessageText(const QString &Msg);

// Shows an error the way the default handler does (caption the application
// title, error icon, OK), through the message presenter when one is set.
void ShowException(const std::exception &E);
void ShowUnknownException();

// Runs Handler and shows whatever it throws like the default handler does.
// Slots wired to widget signals use it, so that errors never unwind through
// Qt's code. Returns false when an error was caught.
template <class F>
bool RunGuarded(F &&Handler)
{
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

// The languages for the windows' texts, most wanted first, by the rules
// gettext follows: a messages locale (LC_ALL, LC_MESSAGES, LANG) of C or
// POSIX means English whatever LANGUAGE says; otherwise the entries of
// LANGUAGE, then the messages locale. English is the source language, so an
// English entry ends the list.
QStringList UiLanguages();

// Installs the translation of the first of UiLanguages() that has one (and
// Qt's own, for its dialogues); none leaves the English texts. Called again,
// it replaces what it installed before. TApplication calls it at start.
// Returns the language installed, empty for English.
QString InstallTranslations();

// Registers the shell's Qt resources (icons, banner); TApplication does it,
// tests that build windows without TApplication call it themselves.
void InitShellResources();
