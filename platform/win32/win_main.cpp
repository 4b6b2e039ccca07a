// The program's entry point on Windows.
#include "app/bootloader_dlg.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win_api.h"

#include <mmsystem.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Sleep and the waits of the serial port in milliseconds, not in 15.6 ms ticks.
    timeBeginPeriod(1);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    zl::win::Win32Platform platform;
    zl::CBootloaderZLApp theApp(platform);
    theApp.InitInstance();  // ends the process when the dialog has ended
    return 0;
}
