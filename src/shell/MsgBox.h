#pragma once
// The three message boxes every window uses, and the seam that lets tests
// answer them without a real modal box.
//
// Each routine takes the application title (shown as the box's main
// instruction) and the message (shown under it):
//   ShowErrorMsg  caption "Error",       error icon,       OK            -> 1
//   ShowInfoMsg   caption "Information", information icon, OK            -> 1
//   AskYesNo      caption "Confirm",     warning icon,     Yes (default), No -> 6 / 7
// Callers of AskYesNo compare with 6; anything else means "not confirmed".

#include <QString>
#include <functional>
#include <memory>

class QMessageBox;

enum class TMsgKind { Error, Info, YesNo };

inline constexpr int kMsgOk = 1;
inline constexpr int kMsgYes = 6;
inline constexpr int kMsgNo = 7;

int ShowErrorMsg(const QString &Title, const QString &Msg);
int ShowInfoMsg(const QString &Title, const QString &Msg);
int AskYesNo(const QString &Title, const QString &Msg);

// Replaces the real boxes: every routine above (and the default error
// handler) calls the presenter instead and returns its result. An empty
// function restores the real boxes.
using TMsgPresenter = std::function<int(TMsgKind, const QString &Title, const QString &Msg)>;
void SetMsgPresenter(TMsgPresenter Presenter);
bool HasMsgPresenter();

// "Veldra-Update": application title, single-instance name.
QString AppTitle();

// The real box of a kind, built but not shown (the routines exec() it).
std::unique_ptr<QMessageBox> BuildMsgBox(TMsgKind Kind, const QString &Title, const QString &Msg);
// Gives a built box a sensible width for its message: one line when it fits,
// wrapped at a readable width when it is long. The routines do it.
void WidenMsgBox(QMessageBox *Box);
// Widens Box and shows it modally (with the arrow cursor over a busy one).
int ExecMsgBox(QMessageBox &Box);
// Result code of a pressed button of a box built above (1, 6 or 7).
int MsgResultFromButton(int StandardButton);

// Shows Msg in the box of a kind through the presenter, or the real box.
int PresentMsg(TMsgKind Kind, const QString &Title, const QString &Msg);
