#include "cli/PacedOut.h"

#include "cli/Console.h"

TPacedOut::TPacedOut(TConsole &Console, std::chrono::milliseconds Pace)
    : FConsole(Console), FPace(Pace) {}

TPacedOut::~TPacedOut() {
    Close();
}

void TPacedOut::Put(const std::string &Line) {
    if (FHeld) FLines += '\n';
    FLines += Line;
    FHeld = true;
    const TClock::time_point Now = TClock::now();
    if (FLastPrint && Now - *FLastPrint < FPace) return;
    FLastPrint = Now;
    Close();
}

void TPacedOut::Close() {
    if (!FHeld) return;
    FConsole.Out(FLines);
    FLines.clear();
    FHeld = false;
}
