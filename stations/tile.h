// The tile of one station: its port, the status line and progress bar, the device's
// firmware as the panels show it, the counters, the verdict on the last device, and the
// box the station waits on, with its buttons. It renders the station's view and passes
// clicks and answers to the station's own thread.
#pragma once

#include <QComboBox>
#include <QFrame>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stations/station.h"

class QFont;
class QLabel;
class QVBoxLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace zl::stations {

// Seconds with one decimal, the decimal sign of the language.
QString Seconds(double s, bool english);

// A port list that is made anew each time it opens.
class PortCombo : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override {
        if (beforePopup) beforePopup();
        QComboBox::showPopup();
    }
};

class Tile : public QFrame {
    Q_OBJECT
public:
    // When a unit ID was loaded good before (UTC ms); none: never.
    using KnownGood = std::function<std::optional<int64_t>(const std::string& unitId)>;
    // offerPorts: the ports this tile may take (those no other tile holds). knownGood:
    // set when each device is named by a unit ID the tile takes.
    Tile(bool english, std::function<std::vector<int>()> offerPorts, KnownGood knownGood = nullptr,
         QWidget* parent = nullptr);
    ~Tile() override;

    int Port() const { return port_; }
    void SetPort(int port);  // shown; 0 for none
    Station* GetStation() const { return station_.get(); }
    void Attach(std::unique_ptr<Station> station);
    std::unique_ptr<Station> Detach();
    // Called by the station from any of its threads.
    std::function<void()> ChangeNotifier() const;

    // Renders the station's view when it changed (or always, with force).
    void Refresh(bool force = false);
    void SetEnglish(bool english);
    bool Busy() const { return view_.busy; }
    bool Transferring() const { return view_.transfer; }
    // The station waits for the unit ID of its next device.
    bool WaitingForUnit() const;
    bool UnitHasFocus() const;
    void FocusUnit();

signals:
    void portChosen(int port);
    void removeRequested();
    void unitEntered();  // a unit ID was taken: the focus may move on
    void unitFreed();    // the device is done: the tile waits for the next ID

private:
    void FillPorts();
    void Render();
    void RenderBox();
    void RenderUnit();
    QVBoxLayout* MakeUnitRow(const QFont& bold);
    // Enter in the unit field: the ID is taken, or first warned about when it was loaded
    // good before; Enter again (or "Load again") takes it all the same.
    void EnterUnit();
    void TakeUnit(const std::string& id);
    void ClearWarning();

    bool english_;
    std::function<std::vector<int>()> offerPorts_;
    int port_ = 0;
    std::unique_ptr<Station> station_;
    std::shared_ptr<std::atomic<bool>> dirty_ = std::make_shared<std::atomic<bool>>(true);
    StationView view_;
    int styledVerdict_ = -1;
    KnownGood knownGood_;
    std::string shownUnit_;    // the station's unit ID as last rendered
    std::string warnedUnit_;   // the ID the warning is about
    int64_t warnedMs_ = 0;

    QLabel* portLabel_;
    PortCombo* portBox_;
    QPushButton* stopButton_;
    QPushButton* removeButton_;
    QLabel* status_;
    QProgressBar* bar_;
    QLabel* firmwareTitle_;
    QLabel* firmware_;
    QLabel* flash_;
    QLabel* result_;
    QLabel* counters_;
    QLabel* lastDevice_;
    QLabel* unitLabel_ = nullptr;
    QLineEdit* unit_ = nullptr;
    QFrame* warning_ = nullptr;
    QLabel* warningText_ = nullptr;
    QPushButton* loadAgain_ = nullptr;
    QPushButton* skip_ = nullptr;
    QLabel* verdict_;
    QLabel* reason_;  // why the last device failed
    QFrame* boxPanel_;
    QLabel* boxTitle_;
    QLabel* boxText_;
    QPushButton* boxOk_;
    QPushButton* boxCancel_;
};

}  // namespace zl::stations
