#pragma once
// The three message boxes every window uses, and the seam that lets tests
// answer them without a real modal box.
//
// Each routine takes the application title (shown as the box's main
// instruction) and the message (shown under it):
//   ShowErrorMsg  caption "Error",       error icon,       OK            -> mrOk
//   ShowInfoMsg   caption "Information", information icon, OK            -> mrOk
//   AskYesNo      caption "Confirm",     warning icon,     Yes (default), No -> mrYes / mrNo
// Callers of AskYesNo compare with mrYes; anything else means "not confirmed".

#include <QString>
#include <functional>
#include <memory>

class QMessageBox;

enum class TMsgKind { Error, Info, YesNo };

// What a box was answered with. The values are the classic dialogue result
// codes (OK 1, Cancel 2, Yes 6, No 7) that the boxes have always returned;
// this is the one place that spells them.
enum TMsgResult : int {
    mrOk = 1,
    mrDismissed = 2,  // closed by Escape or the title bar: no answer
    mrYes = 6,
    mrNo = 7,
};

TMsgResult ShowErrorMsg(const QString &Title, const QString &Msg);
TMsgResult ShowInfoMsg(const QString &Title, const QString &Msg);
TMsgResult AskYesNo(const QString &Title, const QString &Msg);

// Replaces the real boxes: every routine above (and the default error
// handler) calls the presenter instead and returns its result. An empty
// function restores the real boxes. The presenter answers with a
// TMsgResult (given as its code).
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
TMsgResult ExecMsgBox(QMessageBox &Box);
// Result of a pressed button of a box built above.
TMsgResult MsgResultFromButton(int StandardButton);

// Shows Msg in the box of a kind through the presenter, or the real box.
TMsgResult PresentMsg(TMsgKind Kind, const QString &Title, const QString &Msg);
