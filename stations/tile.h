// The tile of one station: its port, the status line and progress bar, the device's
// firmware as the panels show it, the counters, the verdict on the last device, and the
// box the station waits on, with its buttons. It renders the station's view and passes
// clicks and answers to the station's own thread.
#pragma once

#include <QComboBox>
#include <QFrame>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "stations/station.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace zl::stations {

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
    // offerPorts: the ports this tile may take (those no other tile holds).
    Tile(bool english, std::function<std::vector<int>()> offerPorts, QWidget* parent = nullptr);
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

signals:
    void portChosen(int port);
    void removeRequested();

private:
    void FillPorts();
    void Render();
    void RenderBox();

    bool english_;
    std::function<std::vector<int>()> offerPorts_;
    int port_ = 0;
    std::unique_ptr<Station> station_;
    std::shared_ptr<std::atomic<bool>> dirty_ = std::make_shared<std::atomic<bool>>(true);
    StationView view_;
    int styledVerdict_ = -1;

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
    QLabel* verdict_;
    QLabel* reason_;  // why the last device failed
    QFrame* boxPanel_;
    QLabel* boxTitle_;
    QLabel* boxText_;
    QPushButton* boxOk_;
    QPushButton* boxCancel_;
};

}  // namespace zl::stations
