#pragma once
// The application object. Its notify() override is the default error
// handler: an exception that escapes an event handler is caught there, shown
// in an error box captioned with the application title, and the program goes
// on with its event loop. No exception ever crosses Qt's event loop.

#include <QApplication>
#include <QString>
#include <QStringList>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *Receiver, QEvent *Event) override;
};

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
