#include "stations/stations_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "app/texts.h"
#include "files/file_filter.h"
#include "faces/qt/file_dialog.h"
#include "faces/qt/toolkit_language.h"
#include "records/record_log.h"
#include "report/record_stream.h"
#include "res/resources.h"
#include "platform/text_convert.h"
#include "serve/serve_control.h"
#include "stations/port_list.h"
#include "stations/station.h"
#include "stations/tile.h"
#include "stations/window_texts.h"

namespace zl::stations {
namespace {

QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

constexpr int kColumns = 4;

// The ports of the profile: "COM5,COM6" unquoted reads as a list, quoted as one text.
std::u16string StoredPorts(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(QLatin1Char(',')).toStdU16String();
    return value.toString().toStdU16String();
}

}  // namespace

StationsWindow::StationsWindow(WindowSetup setup)
    : setup_(std::move(setup)),
      settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Hallwyn"),
                QStringLiteral("BootloaderZL-Stations")),
      records_(std::make_unique<RecordLog>(RecordLog::DefaultPath(), "BootloaderZL-Stations", BZL_VERSION,
                                           [](const std::string& problem) {
                                               std::fprintf(stderr, "BootloaderZL-Stations: %s\n", problem.c_str());
                                           })) {
    english_ = settings_.value(QStringLiteral("PrevLang"), 0).toInt() != 0;
    const std::vector<std::u16string>& types = DeviceTypeNames();
    device_ = std::clamp(settings_.value(QStringLiteral("PrevDevice"), 0).toInt(), 0, static_cast<int>(types.size()) - 1);
    if (setup_.job) {
        // Locked to the job: its device type and its file, whatever the profile says.
        device_ = std::clamp(setup_.job->device, 0, static_cast<int>(types.size()) - 1);
        autoLoad_ = QFileInfo(QString::fromStdString(setup_.job->filePath)).absoluteFilePath().toStdU16String();
    }
    if (setup_.askUnit) ReadKnownGood();
    if (setup_.serve)
        board_ = std::make_unique<serve::StationBoard>("BootloaderZL-Stations", BZL_VERSION,
                                                       setup_.job ? setup_.job->jobSha256 : std::string());

    const MenuTemplate& menu = MainMenu();
    languageMenu_ = menuBar()->addMenu(Q(menu.popup));
    auto* group = new QActionGroup(this);
    for (const MenuItemTemplate& item : menu.items) {
        QAction* action = languageMenu_->addAction(Q(item.text));
        action->setCheckable(true);
        group->addAction(action);
        const bool english = item.command == ID_LANGUAGE_ENGLISH;
        (english ? english_action_ : german_) = action;
        connect(action, &QAction::triggered, this, [this, english] { SetEnglish(english); });
    }

    auto* central = new QWidget(this);
    auto* top = new QHBoxLayout;
    deviceLabel_ = new QLabel(central);
    deviceBox_ = new QComboBox(central);
    for (const std::u16string& t : types) deviceBox_->addItem(Q(t));
    deviceBox_->setCurrentIndex(device_);
    fileLabel_ = new QLabel(central);
    path_ = new QLabel(central);
    path_->setTextFormat(Qt::PlainText);
    path_->setMinimumWidth(260);
    chooseFile_ = new QPushButton(central);
    autoLoadOff_ = new QPushButton(central);
    add_ = new QPushButton(central);
    top->addWidget(deviceLabel_);
    top->addWidget(deviceBox_);
    top->addSpacing(16);
    top->addWidget(fileLabel_);
    top->addWidget(path_, 1);
    top->addWidget(chooseFile_);
    top->addWidget(autoLoadOff_);
    top->addSpacing(16);
    top->addWidget(add_);

    hint_ = new QLabel(central);
    hint_->setWordWrap(true);
    jobLabel_ = new QLabel(central);
    jobLabel_->setTextFormat(Qt::PlainText);
    jobLabel_->setVisible(setup_.job.has_value());
    figures_ = new QLabel(central);
    figures_->setTextFormat(Qt::PlainText);
    QFont bold = figures_->font();
    bold.setBold(true);
    jobLabel_->setFont(bold);
    figures_->setFont(bold);
    deviceBox_->setEnabled(!setup_.job);
    auto* tiles = new QWidget;
    grid_ = new QGridLayout(tiles);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setSpacing(8);
    auto* scroll = new QScrollArea(central);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(tiles);

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addWidget(jobLabel_);
    layout->addWidget(figures_);
    layout->addWidget(hint_);
    layout->addWidget(scroll, 1);
    setCentralWidget(central);

    connect(chooseFile_, &QPushButton::clicked, this, [this] { ChooseFile(); });
    connect(autoLoadOff_, &QPushButton::clicked, this, [this] { SetAutoLoadFile(u""); });
    connect(add_, &QPushButton::clicked, this, [this] { AddTile(0); });
    connect(deviceBox_, qOverload<int>(&QComboBox::activated), this, [this](int index) { ChangeDevice(index); });
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });

    for (int port : ParsePortList(StoredPorts(settings_.value(QStringLiteral("Stations"))))) AddTile(port);
    SetEnglish(english_);
    timer_.start(100);
}

StationsWindow::~StationsWindow() {
    timer_.stop();
    StopServing();
    for (Tile* tile : tiles_) Retire(tile);
    for (Retirer& r : retirers_) r.thread.join();
    // A station left running may still report to the board.
    if (leftRunning_) (void)board_.release();
}

bool StationsWindow::StartServing(std::string& error) {
    if (!setup_.serve || server_) return true;
    serve::ServeSetup serveSetup = *setup_.serve;
    serveSetup.english = english_;
    serveSetup.recordsPath = records_->Path();
    std::string announce;
    server_ = serve::StartServe(std::move(serveSetup), *board_, announce, error);
    if (!server_) return false;
    std::fprintf(stderr, "BootloaderZL-Stations: %s\n", announce.c_str());
    return true;
}

void StationsWindow::StopServing() {
    if (serve::StopServe(server_)) return;
    std::fprintf(stderr, "BootloaderZL-Stations: the HTTP server did not end in time; the program ends without waiting for it\n");
    (void)board_.release();
    leftRunning_ = true;
}

void StationsWindow::Retranslate() {
    setWindowTitle(Q(WText(WinText::Title, english_)));
    deviceLabel_->setText(Q(WText(WinText::DeviceLabel, english_)));
    fileLabel_->setText(Q(WText(WinText::FileLabel, english_)));
    chooseFile_->setText(Q(WText(WinText::ChooseFile, english_)));
    autoLoadOff_->setText(Q(Text(TextId::AutoLoadOff, english_)));
    add_->setText(Q(WText(WinText::AddStation, english_)));
    hint_->setText(Q(WText(WinText::NoStations, english_)));
    if (setup_.job) {
        const JobFile& job = *setup_.job;
        jobLabel_->setText(Q(WText(WinText::JobHeader, english_))
                               .arg(QString::fromStdString(job.name), QFileInfo(Q(autoLoad_)).fileName(),
                                    QString::fromStdString(job.sha256.substr(0, 12))));
    }
    figuresDue_ = true;
    ShowFigures();
    german_->setChecked(!english_);
    english_action_->setChecked(english_);
    ShowPath();
    for (Tile* tile : tiles_) tile->SetEnglish(english_);
}

void StationsWindow::SetEnglish(bool english) {
    english_ = english;
    settings_.setValue(QStringLiteral("PrevLang"), english ? 1 : 0);
    settings_.sync();
    SetToolkitLanguage(!english);
    for (Tile* tile : tiles_)
        if (Station* s = tile->GetStation()) s->SetLanguage(english);
    Retranslate();
}

void StationsWindow::ShowPath() {
    const QString full = autoLoad_.empty() ? Q(Text(TextId::AutoLoadPathOff, english_)) : Q(autoLoad_);
    path_->setToolTip(autoLoad_.empty() ? QString() : full);
    path_->setText(path_->fontMetrics().elidedText(full, Qt::ElideMiddle, std::max(260, path_->width())));
    autoLoadOff_->setEnabled(!autoLoad_.empty() && !setup_.job);
    chooseFile_->setEnabled(!setup_.job);
}

void StationsWindow::ChooseFile() {
    const FileFilter f = AutoLoadFilter(english_, device_);
    QFileDialog dialog(this);
    SetUpFileDialog(dialog, true, f.filter, f.defExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SetAutoLoadFile(QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdU16String());
}

void StationsWindow::SetAutoLoadFile(const std::u16string& path) {
    if (setup_.job) return;  // the job's file, and no other
    autoLoad_ = path;
    for (Tile* tile : tiles_)
        if (Station* s = tile->GetStation()) s->SetAutoLoad(path);
    ShowPath();
}

bool StationsWindow::AnyBusy() const {
    return std::any_of(tiles_.begin(), tiles_.end(), [](const Tile* t) { return t->Busy(); });
}

void StationsWindow::ChangeDevice(int index) {
    if (index == device_) return;
    for (Tile* tile : tiles_) tile->Refresh(true);
    if (AnyBusy()) {
        deviceBox_->setCurrentIndex(device_);
        QMessageBox::information(this, windowTitle(), Q(WText(WinText::BusyNoChange, english_)));
        return;
    }
    device_ = index;
    settings_.setValue(QStringLiteral("PrevDevice"), index);
    settings_.sync();
    // Every station starts anew with the other device type (and no Auto-Load file,
    // whose filter depends on it), as the Device box does in the dialog.
    autoLoad_.clear();
    ShowPath();
    for (Tile* tile : tiles_) {
        Retire(tile);
        if (tile->Port() != 0) pending_.insert(tile);
    }
}

std::vector<int> StationsWindow::HeldPorts(const Tile* except) const {
    std::vector<int> held;
    for (const Tile* tile : tiles_)
        if (tile != except && tile->Port() != 0) held.push_back(tile->Port());
    std::lock_guard<std::mutex> lock(retireMutex_);
    held.insert(held.end(), retiring_.begin(), retiring_.end());
    return held;
}

Tile* StationsWindow::AddTile(int port) {
    const std::vector<int> held = HeldPorts(nullptr);
    if (port != 0 && std::find(held.begin(), held.end(), port) != held.end()) port = 0;
    auto self = std::make_shared<Tile*>(nullptr);
    Tile::KnownGood knownGood;
    if (setup_.askUnit) knownGood = [this](const std::string& id) { return KnownGood(id); };
    auto* tile = new Tile(english_, [this, self] { return OfferablePorts(HeldPorts(*self)); }, knownGood);
    *self = tile;
    connect(tile, &Tile::unitEntered, this, [this, tile] { FocusNextWaiting(tile); });
    connect(tile, &Tile::unitFreed, this, [this, tile] { UnitFreed(tile); });
    tiles_.push_back(tile);
    connect(tile, &Tile::portChosen, this, [this, tile](int n) { ChoosePort(tile, n); });
    connect(tile, &Tile::removeRequested, this, [this, tile] { RemoveTile(tile); });
    tile->SetPort(port);
    if (port != 0) pending_.insert(tile);
    Relayout();
    SavePorts();
    return tile;
}

void StationsWindow::SavePorts() {
    std::vector<int> ports;
    for (const Tile* tile : tiles_)
        if (tile->Port() != 0) ports.push_back(tile->Port());
    // As a list: written unquoted (COM5, COM6), as one edits it by hand.
    QStringList names;
    for (const QString& name : Q(FormatPortList(ports)).split(QLatin1Char(','), Qt::SkipEmptyParts)) names << name;
    if (names.size() <= 1) settings_.setValue(QStringLiteral("Stations"), names.value(0));
    else settings_.setValue(QStringLiteral("Stations"), names);
    settings_.sync();
}

void StationsWindow::Relayout() {
    for (Tile* tile : tiles_) grid_->removeWidget(tile);
    for (size_t i = 0; i < tiles_.size(); ++i)
        grid_->addWidget(tiles_[i], static_cast<int>(i) / kColumns, static_cast<int>(i) % kColumns, Qt::AlignTop);
    for (int c = 0; c < kColumns; ++c) grid_->setColumnStretch(c, 1);
    grid_->setRowStretch(static_cast<int>(tiles_.size() + kColumns - 1) / kColumns, 1);
    hint_->setVisible(tiles_.empty());
}

void StationsWindow::ChoosePort(Tile* tile, int port) {
    tile->Refresh(true);
    if (tile->Busy()) return tile->SetPort(tile->Port());
    const std::vector<int> held = HeldPorts(tile);
    if (port != 0 && std::find(held.begin(), held.end(), port) != held.end()) return tile->SetPort(tile->Port());
    Retire(tile);
    tile->SetPort(port);
    if (port != 0) pending_.insert(tile);
    SavePorts();
}

void StationsWindow::RemoveTile(Tile* tile) {
    tile->Refresh(true);
    if (tile->Busy()) return;
    Retire(tile);
    pending_.erase(tile);
    tiles_.erase(std::find(tiles_.begin(), tiles_.end(), tile));
    grid_->removeWidget(tile);
    tile->deleteLater();
    SavePorts();
    Relayout();
}

void StationsWindow::Retire(Tile* tile) {
    pending_.erase(tile);
    if (Station* s = tile->GetStation()) CollectDone(*s);
    std::unique_ptr<Station> station = tile->Detach();
    if (!station) return;
    // Gone from the served stations, unless the window is closing (they are shown until it has).
    if (board_ && !shuttingDown_) board_->RemoveStation(station->Options().board.index);
    // Quitting waits for the station's thread (a pause of up to a few seconds): it is
    // done beside the window, and the port counts as held until it is released.
    const int port = tile->Port();
    {
        std::lock_guard<std::mutex> lock(retireMutex_);
        retiring_.insert(port);
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, port, done, s = std::move(station)]() mutable {
        // A station whose dialog does not end in time is left to its thread, never
        // destroyed under it.
        if (!s->Quit()) {
            leftRunning_ = true;
            (void)s.release();
        }
        s.reset();
        {
            std::lock_guard<std::mutex> lock(retireMutex_);
            retiring_.erase(retiring_.find(port));
        }
        *done = true;
    });
    retirers_.push_back(Retirer{std::move(thread), done});
}

bool StationsWindow::ReapRetirers() {
    for (auto it = retirers_.begin(); it != retirers_.end();) {
        if (*it->done) {
            it->thread.join();
            it = retirers_.erase(it);
        } else {
            ++it;
        }
    }
    return retirers_.empty();
}

void StationsWindow::StartPending() {
    // Every tile whose port is free; the stations' start-ups take turns by themselves.
    for (Tile* tile : tiles_) {
        if (pending_.count(tile) == 0) continue;
        {
            std::lock_guard<std::mutex> lock(retireMutex_);
            if (retiring_.count(tile->Port()) != 0) continue;
        }
        StationOptions options;
        options.port = ComDeviceName(tile->Port());
        options.device = device_;
        options.english = english_;
        options.autoLoad = autoLoad_;
        if (setup_.job) {
            options.pinnedSha256 = setup_.job->sha256;
            options.expectFirmware = setup_.job->expectFirmware;
            options.verify = setup_.job->verify;
            options.tags.jobName = setup_.job->name;
            options.tags.jobSha256 = setup_.job->jobSha256;
        }
        options.askUnit = setup_.askUnit;
        if (board_) {
            const std::string port = ToUtf8(options.port);
            options.board = {board_.get(), board_->AddStation(ToUtf8(ShortPortName(options.port)), port)};
        }
        auto station = std::make_unique<Station>(std::move(options), records_.get(), tile->ChangeNotifier());
        station->Start();
        tile->Attach(std::move(station));
        pending_.erase(tile);
    }
}

void StationsWindow::Tick() {
    // The thread of a station that has quit is released as soon as it is done.
    const bool allEnded = ReapRetirers();
    if (shuttingDown_) {
        for (Tile* tile : tiles_) tile->Refresh();
        if (!allEnded) return;
        shutDown_ = true;
        timer_.stop();
        StopServing();
        QApplication::restoreOverrideCursor();
        close();
        return;
    }
    StartPending();
    for (Tile* tile : tiles_) {
        if (Station* s = tile->GetStation()) CollectDone(*s);
        tile->Refresh();
    }
    const bool busy = AnyBusy();
    deviceBox_->setEnabled(!busy && !setup_.job);
    ShowFigures();
    // The scanner types where the focus is: at first into the first tile that waits for an ID.
    if (setup_.askUnit && !unitFocused_) {
        const auto waiting = std::find_if(tiles_.begin(), tiles_.end(), [](const Tile* t) { return t->WaitingForUnit(); });
        if (waiting != tiles_.end()) {
            unitFocused_ = true;
            (*waiting)->FocusUnit();
        }
    }
}

void StationsWindow::UnitFreed(Tile* tile) {
    // A device is done: its tile takes the next ID, unless the focus is in a tile that
    // waits for one already.
    const bool focusWaits =
        std::any_of(tiles_.begin(), tiles_.end(), [](const Tile* t) { return t->UnitHasFocus() && t->WaitingForUnit(); });
    if (!focusWaits && tile->WaitingForUnit()) tile->FocusUnit();
}

void StationsWindow::FocusNextWaiting(const Tile* after) {
    const auto from = std::find(tiles_.begin(), tiles_.end(), after);
    const size_t n = tiles_.size();
    const size_t first = from == tiles_.end() ? 0 : static_cast<size_t>(from - tiles_.begin()) + 1;
    for (size_t i = 0; i < n; ++i) {
        Tile* tile = tiles_[(first + i) % n];
        if (tile != after && tile->WaitingForUnit()) return tile->FocusUnit();
    }
}

void StationsWindow::CollectDone(Station& station) {
    for (const DeviceDone& d : station.TakeDone()) {
        tally_.Add(d.summary);
        if (d.loadGood && !d.unitId.empty()) {
            int64_t& when = knownGood_[d.unitId];
            when = std::max(when, d.summary.timeMs);
        }
        figuresDue_ = true;
    }
}

std::optional<int64_t> StationsWindow::KnownGood(const std::string& unitId) const {
    const auto it = knownGood_.find(unitId);
    if (it == knownGood_.end()) return std::nullopt;
    return it->second;
}

void StationsWindow::ReadKnownGood() {
    report::RecordFilter filter;
    filter.jobSha256 = setup_.job ? setup_.job->jobSha256 : std::string();
    report::RecordStream stream(filter, [this](const report::RecordSummary& r) {
        if (r.schema != 2 || r.operation != "load" || !r.good || !r.hasUnit) return;
        int64_t& when = knownGood_[r.unitId];
        when = std::max(when, r.timeMs);
    });
    std::ifstream in(records_->Path(), std::ios::binary);
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) stream.Feed(buffer, static_cast<size_t>(in.gcount()));
    stream.EndOfFile();
}

void StationsWindow::ShowFigures() {
    // Once something changed, and every few seconds for the last hour's count.
    const auto now = std::chrono::steady_clock::now();
    if (!figuresDue_ && now - figuresShown_ < std::chrono::seconds(5)) return;
    figuresDue_ = false;
    figuresShown_ = now;
    const report::YieldFigures f = tally_.Figures();
    const QString none = Q(WText(WinText::NoFigure, english_));
    QString yield = none, median = none;
    if (f.firstPassYield) {
        yield = QString::number(*f.firstPassYield * 100, 'f', 1) + QStringLiteral(" %");
        if (!english_) yield.replace(QLatin1Char('.'), QLatin1Char(','));
    }
    if (f.loadMedianS) median = Seconds(*f.loadMedianS, english_) + QStringLiteral(" s");
    const int64_t hourAgo =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count() -
        3600 * 1000;
    figures_->setText(Q(WText(WinText::Figures, english_))
                          .arg(f.good)
                          .arg(f.failed)
                          .arg(yield)
                          .arg(tally_.GoodSince(hourAgo))
                          .arg(median));
}

void StationsWindow::closeEvent(QCloseEvent* event) {
    if (shutDown_) return event->accept();
    event->ignore();
    if (shuttingDown_) return;
    for (Tile* tile : tiles_) tile->Refresh(true);
    // A device half-programmed is worse than a wait.
    if (std::any_of(tiles_.begin(), tiles_.end(), [](const Tile* t) { return t->Transferring(); })) {
        QMessageBox::information(this, windowTitle(), Q(Text(TextId::WaitForProcess, english_)));
        return;
    }
    // A station may start a transfer right now (its device asked for the Auto-Load): each
    // one finishes what it has begun, and the window closes once all have ended.
    Shutdown();
}

void StationsWindow::Shutdown() {
    if (shuttingDown_ || shutDown_) return;
    shuttingDown_ = true;
    pending_.clear();
    // A box or file dialog of the window that is open now asks nothing more.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) dialog->reject();
    centralWidget()->setEnabled(false);
    menuBar()->setEnabled(false);
    for (Tile* tile : tiles_) tile->Refresh(true);
    if (std::any_of(tiles_.begin(), tiles_.end(), [](const Tile* t) { return t->Transferring(); })) {
        hint_->setText(Q(Text(TextId::WaitForProcess, english_)));
        hint_->setVisible(true);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (Tile* tile : tiles_) Retire(tile);
    if (!timer_.isActive()) timer_.start(100);
}

}  // namespace zl::stations
