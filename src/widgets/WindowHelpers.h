#pragma once
// Small pieces the main window and both tool windows share.

#include <QIcon>
#include <QString>
#include <Qt>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QPushButton;
class QWidget;

// Makes a panel a white card with rounded corners of 20-pixel ellipses,
// drawn over the window background (it keeps its shape when resized).
void SetRoundRegion(QWidget *Panel);

// Minimising Window minimises every visible top-level window of the
// application with it (a tool window takes the main window along).
void InstallMinimizeAll(QWidget *Window);
void MinimizeApplication();

// Registers the windows' Qt resources (icons); the application
// object does it, tests that build windows without it call it themselves.
void InitWidgetResources();

// The reload picture of the port lists (image 0 of the main window's
// 16-pixel image list) and the application's icon.
QIcon ReloadIcon();
QIcon AppIcon();

// The font of every window: a sans-serif face 13 pixels high.
void ApplyWindowFont(QWidget *Window);

// Enter and Return press the focused button, as Space does: every push
// button of the window acts on them, and tool buttons (the reload buttons)
// and check boxes get the same. A dialog's default button still answers Enter in a field.
void EnableEnterOnButtons(QWidget *Window);

// Enter in a field presses the action of the area the field belongs to
// (Connect beside the port list, Read on the register page), never a hidden
// default button. Each pair names a field and its action; nullptr means
// Enter in that field presses nothing. Fields not named press nothing
// either; a focused button still answers Enter itself. The action is also
// shown as the default button while its field has the focus.
using TEnterActions = std::vector<std::pair<QWidget *, QPushButton *>>;
void SetEnterActions(QWidget *Window, TEnterActions Actions);

// Places a top-level window in the middle of the screen it opens on.
void CentreOnScreen(QWidget *Window);

// The busy cursor while a transaction waits, back to the one before however
// the scope ends. A message box shown meanwhile has the normal arrow.
class TWaitCursor {
public:
    explicit TWaitCursor(Qt::CursorShape Shape = Qt::WaitCursor);
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor &) = delete;
    TWaitCursor &operator=(const TWaitCursor &) = delete;
};

// A text of the sensor catalogue for a window: its fixed words ("N/A",
// "Unknown") in the user's language, names and numbers as they are.
QString CatalogueText(const std::string &Text);
