// Program entry: one copy per user, then the main window.

#include "shell/Application.h"
#include "shell/MainForm.h"
#include "shell/SingleInstance.h"

int main(int argc, char **argv)
{
    TApplication App(argc, argv);
    // Another copy runs (it comes to the front) or the guard failed: end
    // without a window and without a message.
    if (!CheckPrevInstance(DefaultInstanceName()))
        return 0;
    int Result = 0;
    {
        TMainForm Main;
        Main.show();
        Result = TApplication::exec();
    }
    RemoveInstanceGuard();
    return Result;
}
