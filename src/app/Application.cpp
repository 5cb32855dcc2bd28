#include "app/Application.h"

#include <QLibraryInfo>
#include <QTranslator>
#include <memory>
#include <vector>

#include "widgets/ErrorBox.h"
#include "widgets/MsgBox.h"
#include "widgets/WindowHelpers.h"

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
    InitWidgetResources();
    InstallTranslations();
    setApplicationName(AppTitle());
    // No application display name: X11 and Wayland append it to every
    // window title (" — Veldra-Update"), and each window's title is its own.
    setWindowIcon(AppIcon());
    // Closing the main window (after its exit question) ends the program.
    setQuitOnLastWindowClosed(true);
}

bool TApplication::notify(QObject *Receiver, QEvent *Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception &E) {
        ShowException(E);
    } catch (...) {
        ShowUnknownException();
    }
    return false;
}

namespace {

// "de_DE.UTF-8@euro" -> "de_DE".
QString LocaleName(QString Name) {
    for (QChar Stop : {QLatin1Char('.'), QLatin1Char('@')})
        if (const qsizetype At = Name.indexOf(Stop); At >= 0) Name.truncate(At);
    return Name;
}

bool IsSourceLanguage(const QString &Name) {
    return Name == QLatin1String("C") || Name == QLatin1String("POSIX") ||
           Name == QLatin1String("en") || Name.startsWith(QLatin1String("en_"));
}

std::vector<QTranslator *> &Installed() {
    static std::vector<QTranslator *> T;
    return T;
}

}  // namespace

QStringList UiLanguages() {
    QString Messages;
    for (const char *Var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        Messages = LocaleName(qEnvironmentVariable(Var));
        if (!Messages.isEmpty()) break;
    }
    if (Messages.isEmpty() || Messages == QLatin1String("C") || Messages == QLatin1String("POSIX"))
        return {};
    QStringList Wanted;
    for (const QString &Entry :
         qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        Wanted << LocaleName(Entry);
    Wanted << Messages;
    QStringList Result;
    for (const QString &Name : Wanted) {
        if (IsSourceLanguage(Name)) break;
        if (!Name.isEmpty()) Result << Name;
    }
    return Result;
}

QString InstallTranslations() {
    InitWidgetResources();
    for (QTranslator *T : Installed()) {
        QCoreApplication::removeTranslator(T);
        delete T;
    }
    Installed().clear();
    for (const QString &Language : UiLanguages()) {
        // "de_DE" finds veldra-update_de.qm too.
        auto Own = std::make_unique<QTranslator>();
        if (!Own->load(QStringLiteral("veldra-update_") + Language, QStringLiteral(":/i18n")))
            continue;
        QCoreApplication::installTranslator(Own.get());
        Installed().push_back(Own.release());
        auto Qt = std::make_unique<QTranslator>();
        if (Qt->load(QStringLiteral("qtbase_") + Language,
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(Qt.get());
            Installed().push_back(Qt.release());
        }
        return Language;
    }
    return {};
}
