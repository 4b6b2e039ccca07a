// The station window: one Auto-Load file and device type for all stations, and a tile
// per station. Each station is a dialog on its own thread; the window only renders
// their views and passes on what the user does. The set of ports is kept in the
// program's own profile (key "Stations").
#pragma once

#include <QMainWindow>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_file.h"
#include "report/yield_tally.h"
#include "serve/http_server.h"
#include "serve/station_board.h"

class QAction;
class QComboBox;
class QGridLayout;
class QLabel;
class QMenu;
class QPushButton;

namespace zl {
class RecordLog;
}

namespace zl::stations {

class Station;
class Tile;

struct WindowSetup {
    // The window runs locked to this job: its device type and file, pinned, verified as
    // it says, and named in every record. The job has been read and its file checked.
    std::optional<JobFile> job;
    // Each device is named by a unit ID typed or scanned into its station's tile.
    bool askUnit = false;
    // --serve: the address and token of the HTTP server of the window's stations.
    std::optional<serve::ServeSetup> serve;
};

class StationsWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit StationsWindow(WindowSetup setup = {});
    ~StationsWindow() override;

    const std::vector<Tile*>& Tiles() const { return tiles_; }
    // The figures of this window's run, as the header shows them.
    report::YieldFigures Figures() const { return tally_.Figures(); }
    // The Auto-Load file of all stations, as if chosen in the file dialog (empty: off).
    void SetAutoLoadFile(const std::u16string& path);
    Tile* AddTile(int port);
    // Ends every station as Quit does, the transfers under way finished first (the wait
    // text is shown meanwhile), then closes the window. For a signal that asks the
    // program to end (logout, shutdown, kill): no box asks anything.
    void Shutdown();
    // A station's thread did not end in time and was left running: the process must end
    // without destroying the window.
    bool LeftRunning() const { return leftRunning_; }
    // Starts the HTTP server of WindowSetup::serve (if any) over the stations and the
    // record file; false with the message when it cannot listen. Stopped when the
    // window has closed.
    bool StartServing(std::string& error);
    // The port served (0: none).
    int ServePort() const { return server_ ? server_->Port() : 0; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Tick();
    void ChoosePort(Tile* tile, int port);
    void RemoveTile(Tile* tile);
    void Retire(Tile* tile);
    // Ends the server, bounded; one still held by a client is left running.
    void StopServing();
    // Joins the threads of stations that have ended; true when none is left.
    bool ReapRetirers();
    void StartPending();
    std::vector<int> HeldPorts(const Tile* except) const;
    void SavePorts();
    void Relayout();
    void ChooseFile();
    void ChangeDevice(int index);
    void SetEnglish(bool english);
    void Retranslate();
    bool AnyBusy() const;
    void ShowPath();
    // The devices the stations are done with: counted, and their unit IDs remembered.
    void CollectDone(Station& station);
    void ShowFigures();
    // The unit IDs loaded good for this job before, from the record file.
    void ReadKnownGood();
    std::optional<int64_t> KnownGood(const std::string& unitId) const;
    void FocusNextWaiting(const Tile* after);
    void UnitFreed(Tile* tile);

    WindowSetup setup_;
    QSettings settings_;
    std::unique_ptr<RecordLog> records_;
    // What the stations publish for the server; it outlives every station that reports to it.
    std::unique_ptr<serve::StationBoard> board_;
    std::unique_ptr<serve::HttpServer> server_;
    bool english_ = false;
    int device_ = 0;
    std::u16string autoLoad_;
    std::vector<Tile*> tiles_;
    std::set<Tile*> pending_;  // tiles whose station starts once their port is free

    struct Retirer {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    mutable std::mutex retireMutex_;
    std::multiset<int> retiring_;  // ports of stations still quitting
    std::vector<Retirer> retirers_;
    std::atomic<bool> leftRunning_{false};
    bool shuttingDown_ = false;
    bool shutDown_ = false;  // every station has ended: the window may close

    report::YieldTally tally_;
    std::map<std::string, int64_t> knownGood_;  // unit ID -> its last good load (UTC ms)
    bool figuresDue_ = true;
    bool unitFocused_ = false;  // the first tile waiting for an ID has had the focus
    std::chrono::steady_clock::time_point figuresShown_{};

    QTimer timer_;
    QMenu* languageMenu_ = nullptr;
    QAction* german_ = nullptr;
    QAction* english_action_ = nullptr;
    QLabel* deviceLabel_ = nullptr;
    QComboBox* deviceBox_ = nullptr;
    QLabel* fileLabel_ = nullptr;
    QLabel* path_ = nullptr;
    QPushButton* chooseFile_ = nullptr;
    QPushButton* autoLoadOff_ = nullptr;
    QPushButton* add_ = nullptr;
    QLabel* hint_ = nullptr;
    QLabel* jobLabel_ = nullptr;
    QLabel* figures_ = nullptr;
    QGridLayout* grid_ = nullptr;
};

}  // namespace zl::stations
