// The program's one table of user-visible texts, German and English.
// Every text is chosen by the language flag at the moment it is shown.
#pragma once

#include <string>

namespace zl {

enum class TextId {
    // Controls switched by the language menu
    DeviceLabel,
    AutoLoadGroup,
    PathLabel,
    AutoLoadPathOff,
    AutoLoadOn,
    AutoLoadOff,
    ReadoutButton,
    CompareButton,
    HelpButton,
    QuitButton,
    DisconnectButton,
    // Status line
    StatusSearching,
    StatusConnected,
    StatusLoadToFlash,
    StatusFlashToChip,
    StatusLoadHcs,
    StatusReadout,
    StatusVerify,
    StatusStopped,
    // Device panels
    NoDevice,
    BootloaderSummaryHeading,
    NoFirmwareLoadedPanel,
    PreviousUpdateOk,
    PreviousUpdateError,
    // Message boxes: titles
    TitleError,
    TitleCompatibility,
    TitleComparison,
    TitleHelp,
    // Message boxes: texts
    PortNotAvailable,
    BuildCommDcbFailed,
    Incompatible,
    LoadFailedLength,
    LoadNotStarted,
    ReadoutIncomplete,  // printf form: packets, rest; the path follows
    ReadoutDone,        // printf form: packets; the path follows
    VerifyFailedPre,    // the path, then VerifyFailedPost, then the device's marks
    VerifyFailedPost,
    VerifyPassedPre,    // the path, then VerifyPassedPost
    VerifyPassedPost,
    WaitForProcess,
    HelpText,
    // Failures of files and the device that the program reports itself
    FileOpenFailed,     // the path and the reason follow
    FileReadFailed,     // the path and the reason follow
    FileWriteFailed,    // the path and the reason follow
    MakeTimeout,
    VerifyNoAnswer,
    ReadoutNoData,
    LineLost,
    StatusPortLost,  // the port's name follows
    // Why a file could not be used (the system's reasons, in both languages)
    ProblemNotFound,
    ProblemNoSpace,
    ProblemPermission,
    ProblemReadOnly,
    ProblemIsDirectory,
    ProblemNotRegular,
    ProblemBusy,
    ProblemChanged,
    ProblemNotWholeBlocks,
    // File dialogs
    AutoLoadFilter,
    SingleFilter,
    DefaultExtension,
    // Fixed texts, the same in both languages
    WindowTitle,
    StopButton,
    StartButton,
    Count_
};

// The text for key in the given language (false: German, true: English).
const std::u16string& Text(TextId key, bool english);

}  // namespace zl
