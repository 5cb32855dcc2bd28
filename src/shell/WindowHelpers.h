#pragma once
// Small pieces the main window and both tool windows share.

#include <QIcon>
#include <QString>

class QWidget;

// Makes a panel a white card with rounded corners of 20-pixel ellipses,
// drawn over the window background (it keeps its shape when resized).
void SetRoundRegion(QWidget *Panel);

// Minimising Window minimises every visible top-level window of the
// application with it (a tool window takes the main window along).
void InstallMinimizeAll(QWidget *Window);
void MinimizeApplication();

// The reload picture of the port lists (image 0 of the main window's
// 16-pixel image list) and the application's icon.
QIcon ReloadIcon();
QIcon AppIcon();

// The font of every window: a sans-serif face 13 pixels high.
void ApplyWindowFont(QWidget *Window);

// Enter and Return press the focused button, as Space does: every push
// button of the window acts on them, and tool buttons (the reload buttons)
// get the same. A dialog's default button still answers Enter in a field.
void EnableEnterOnButtons(QWidget *Window);
