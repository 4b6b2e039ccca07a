// The program's entry point on Windows.
#include "app/bootloader_dlg.h"
#include "faces/win32/win32_platform.h"
#include "records/record_log.h"
#include "os/win32/win_api.h"

#include <mmsystem.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Sleep and the waits of the serial port in milliseconds, not in 15.6 ms ticks.
    timeBeginPeriod(1);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    zl::win::Win32Platform platform;
    // A window program has no console: a record file that cannot be written is left
    // unsaid rather than shown in a box (writing a record never changes the window).
    zl::RecordLog records(zl::RecordLog::DefaultPath(), "BootloaderZL", BZL_VERSION, [](const std::string&) {});
    zl::CBootloaderZLApp theApp(platform, &records);
    theApp.InitInstance();  // ends the process when the dialog has ended
    return 0;
}
