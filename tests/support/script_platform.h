// The scripted face for tests: the product's headless face (the dialog on a user-
// interface thread of its own with its 50 ms timer), with boxes and file dialogs
// answered by the test's script and recorded, sub-dialogs and transfers recorded, and
// the controls model read directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "faces/headless/headless_platform.h"

namespace zl {

class ScriptPlatform : public HeadlessPlatform {
public:
    struct Box {
        std::u16string text;
        std::u16string title;  // as shown: an empty title becomes the application name
        unsigned type = 0;
        bool onUiThread = false;
    };
    struct FileRequest {
        bool open = true;
        std::u16string filter;
        std::u16string defExt;
        unsigned flags = 0;
    };

    ScriptPlatform();
    ~ScriptPlatform() override;

    // --- the script ---
    // Answers every message box (default: IDOK). May block to hold a box open.
    void SetBoxAnswer(std::function<int(const Box&)> answer);
    // Answers file dialogs in order; when none is queued the dialog is cancelled.
    void QueueFileAnswer(std::optional<std::u16string> path);
    // Result of sub-dialogs (the About boxes), default IDOK.
    void SetSubDialogResult(int result);
    std::vector<Box> Boxes() const;
    std::vector<FileRequest> FileRequests() const;
    // The texts of the controls of the last sub-dialog when it was shown.
    ControlState LastSubDialogControl(int id) const;
    int SubDialogCount() const;
    // The records of the transfers that have ended, in order: all of them, or the newest
    // n after KeepRecords(n) (a long soak keeps memory flat).
    std::vector<TransferRecord> Records() const;
    void KeepRecords(size_t n);

    // --- the user-interface thread ---
    void StartUi(std::function<void()> runModal) { Start(std::move(runModal)); }
    // Ends the modal loop unconditionally and waits for the user-interface thread.
    void EndUi();
    bool Escape() { return Close(); }
    bool UiRunning() const { return Running(); }
    // Polls pred every 10 ms until it holds or the time is up.
    static bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

    // --- Platform ---
    int RunSubDialog(const DialogTemplate& dlg, Controls& controls, const std::function<void()>& onShow) override;
    std::optional<std::u16string> FileDialog(bool open, const std::u16string& filter, const std::u16string& defExt,
                                             unsigned flags) override;
    void TransferEnded(const TransferRecord& record) override;

private:
    mutable std::mutex scriptMutex_;
    std::function<int(const Box&)> boxAnswer_;
    std::vector<Box> boxes_;
    std::deque<std::optional<std::u16string>> fileAnswers_;
    std::vector<FileRequest> fileRequests_;
    int subDialogResult_ = 1;
    int subDialogCount_ = 0;
    std::map<int, ControlState> lastSubDialog_;
    std::deque<TransferRecord> records_;
    size_t keepRecords_ = SIZE_MAX;
};

}  // namespace zl
