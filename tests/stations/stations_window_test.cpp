// The station window at 1280x800 with five stations against zlsim devices paced at the
// line rate: four load while the fifth, unplugged mid-load, shows its box in its tile
// and then its failure. Saves a picture of each moment (stations-box.png,
// stations-failed.png); run under Xvfb to see the real window.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/texts.h"
#include "platform/text_convert.h"
#include "platform/win32.h"
#include "records/json_reader.h"
#include "records/record_log.h"
#include "report/record_summary.h"
#include "stations/launch.h"
#include "stations/station.h"
#include "stations/stations_window.h"
#include "stations/tile.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

namespace zl::stations {
namespace {

using test::ZlSim;

bool WaitUntil(const std::function<bool()>& pred, int ms) {
    for (int waited = 0; !pred(); waited += 50) {
        if (waited > ms) return false;
        QTest::qWait(50);
    }
    return true;
}

StationView ViewOf(const Tile* tile) { return tile->GetStation() ? tile->GetStation()->View() : StationView{}; }

TEST(StationsWindow, FourLoadWhileTheFifthShowsItsBoxAndItsFailure) {
    test::TempEnv env;
    setenv("XDG_STATE_HOME", env.dir().c_str(), 1);
    {
        std::ofstream profile(env.dir() + "/Hallwyn/BootloaderZL-Stations.conf");
        profile << "[General]\nStations=\"COM71,COM72,COM73,COM74,COM75\"\n";
    }
    const std::string image = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "262144", "-o", image}));
    std::vector<std::unique_ptr<ZlSim>> sims;
    for (int com = 71; com <= 75; ++com) {
        sims.push_back(std::make_unique<ZlSim>("pic32", com, env.dir() + "/line" + std::to_string(com) + ".jsonl",
                                               std::vector<std::string>{"--flash", env.dir() + "/flash" + std::to_string(com)}));
        ASSERT_TRUE(sims.back()->Ready());
    }

    auto window = std::make_unique<StationsWindow>();
    window->resize(1280, 800);
    window->show();
    ASSERT_EQ(window->Tiles().size(), 5u);
    window->SetAutoLoadFile(FromUtf8(image));
    const std::vector<Tile*> tiles = window->Tiles();
    ASSERT_TRUE(WaitUntil([&] {
        for (Tile* t : tiles)
            if (ViewOf(t).status != Text(TextId::StatusSearching, false)) return false;
        return true;
    }, 15000));
    for (auto& sim : sims) ASSERT_EQ(sim->Command("power on").substr(0, 2), "ok");

    Tile* lost = tiles[4];
    ASSERT_TRUE(WaitUntil([&] {
        for (Tile* t : tiles)
            if (ViewOf(t).status != Text(TextId::StatusLoadToFlash, false)) return false;
        return ViewOf(lost).barPos >= 2;
    }, 20000));
    ASSERT_EQ(sims[4]->Command("unplug").substr(0, 2), "ok");
    ASSERT_TRUE(WaitUntil([&] { return ViewOf(lost).box.has_value(); }, 10000));

    // The box holds its station only: the others go on loading meanwhile.
    std::vector<int> before;
    for (int i = 0; i < 4; ++i) before.push_back(ViewOf(tiles[i]).barPos);
    QTest::qWait(1500);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GT(ViewOf(tiles[i]).barPos, before[i]) << i;
        EXPECT_EQ(ViewOf(tiles[i]).status, Text(TextId::StatusLoadToFlash, false)) << i;
    }
    EXPECT_TRUE(window->grab().save(QStringLiteral(BZL_SCREENSHOT_DIR "/stations-box.png")));

    // The tile's own OK button answers it; the tile turns red and counts the failure.
    QPushButton* ok = nullptr;
    for (QPushButton* b : lost->findChildren<QPushButton*>())
        if (b->isVisible() && b->text() == QStringLiteral("OK")) ok = b;
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return ViewOf(lost).verdict == Verdict::Fail && ViewOf(lost).box.has_value(); }, 10000));
    EXPECT_EQ(ViewOf(lost).failed, 1);
    EXPECT_EQ(ViewOf(lost).box->text, Text(TextId::PortNotAvailable, false));
    QTest::qWait(300);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ViewOf(tiles[i]).status, Text(TextId::StatusLoadToFlash, false)) << i;
    EXPECT_TRUE(window->grab().save(QStringLiteral(BZL_SCREENSHOT_DIR "/stations-failed.png")));

    // The other loads end at once when their devices are pulled too.
    for (int i = 0; i < 4; ++i) sims[static_cast<size_t>(i)]->Command("unplug");
    window.reset();
}

// Stations are added, moved and removed while idle; a tile offers only the ports no
// other tile holds, and the set of ports is kept under its own key.
TEST(StationsWindow, TilesChooseFreePortsAndTheSetIsKept) {
    test::TempEnv env;
    setenv("XDG_STATE_HOME", env.dir().c_str(), 1);
    std::vector<std::unique_ptr<ZlSim>> sims;
    for (int com : {81, 82, 83}) {
        sims.push_back(std::make_unique<ZlSim>("pic32", com, env.dir() + "/line" + std::to_string(com) + ".jsonl"));
        ASSERT_TRUE(sims.back()->Ready());
    }
    const QString conf = QString::fromStdString(env.dir() + "/Hallwyn/BootloaderZL-Stations.conf");
    // The file's own line: a list, unquoted, as one writes it by hand.
    auto stored = [&] {
        std::ifstream in(conf.toStdString());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Stations=", 0) == 0) return QString::fromStdString(line.substr(9));
        return QString();
    };
    auto offered = [](Tile* tile) {
        QStringList ports;
        auto* box = tile->findChild<QComboBox*>();
        static_cast<PortCombo*>(box)->beforePopup();
        for (int i = 1; i < box->count(); ++i) ports << box->itemText(i);
        return ports.join(QLatin1Char(' '));
    };
    {
        StationsWindow window;
        window.show();
        Tile* a = window.AddTile(0);
        Tile* b = window.AddTile(0);
        EXPECT_EQ(offered(a), QStringLiteral("COM81 COM82 COM83"));
        emit a->portChosen(82);
        EXPECT_EQ(offered(b), QStringLiteral("COM81 COM83"));
        emit b->portChosen(82);  // held by the other tile: refused
        EXPECT_EQ(b->Port(), 0);
        emit b->portChosen(83);
        EXPECT_EQ(stored(), QStringLiteral("COM82, COM83"));
        ASSERT_TRUE(WaitUntil([&] { return ViewOf(a).status == Text(TextId::StatusSearching, false); }, 10000));
        // Moved: the station on COM82 quits and a new one searches on COM81.
        emit a->portChosen(81);
        ASSERT_TRUE(WaitUntil([&] { return ViewOf(a).status == Text(TextId::StatusSearching, false); }, 10000));
        EXPECT_EQ(a->GetStation()->Options().port, u"\\\\.\\COM81");
        EXPECT_EQ(stored(), QStringLiteral("COM81, COM83"));
        window.AddTile(0);
        window.close();
    }
    // Edited by hand as the README shows it: the tiles in that order.
    std::ofstream(conf.toStdString()) << "[General]\nStations=COM83,COM81\n";
    StationsWindow again;
    ASSERT_EQ(again.Tiles().size(), 2u);
    EXPECT_EQ(again.Tiles()[0]->Port(), 83);
    EXPECT_EQ(again.Tiles()[1]->Port(), 81);
    emit again.Tiles()[0]->removeRequested();
    EXPECT_EQ(again.Tiles().size(), 1u);
    EXPECT_EQ(stored(), QStringLiteral("COM81"));
}


// The text of the box a call shows, which is then closed as by its OK button.
QString BoxTextDuring(const std::function<void()>& call) {
    QString text;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            box->accept();
        }
    });
    poll.start(50);
    call();
    return text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QLineEdit* UnitField(Tile* tile) { return tile->findChild<QLineEdit*>(QStringLiteral("unit")); }

// A line under a job with unit IDs: a job whose firmware is not the pinned one is refused
// in a box; the good one locks device and file, each station searches only once its ID
// is scanned, Enter moves on to the next tile, an ID loaded good before is warned about
// until Enter comes again; every load is compared with the file, and each record names
// its unit and the job.
TEST(StationsWindow, AJobWithUnitIdsLoadsEachUnitOnce) {
    test::TempEnv env;
    setenv("XDG_STATE_HOME", env.dir().c_str(), 1);
    {
        std::ofstream profile(env.dir() + "/Hallwyn/BootloaderZL-Stations.conf");
        profile << "[General]\nStations=\"COM91,COM92\"\n";
    }
    const std::string image = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "32768", "--seed", "3", "-o", image}));
    JobFile job;
    job.name = "Line 4 - Corvel";
    job.file = "fw.spic32";
    job.verify = true;
    std::string reason;
    ASSERT_TRUE(HashFile(image, job.sha256, job.size, reason)) << reason;
    const std::string good = env.dir() + "/line.zljob", wrong = env.dir() + "/wrong.zljob";
    std::ofstream(good) << FormatJobFile(job);
    JobFile other = job;
    other.sha256 = std::string(64, 'a');
    std::ofstream(wrong) << FormatJobFile(other);

    int code = 0;
    std::optional<WindowSetup> setup;
    const QString refused = BoxTextDuring([&] { setup = SetupFromArguments({"--job", QString::fromStdString(wrong)}, code); });
    EXPECT_FALSE(setup.has_value());
    EXPECT_EQ(code, 7);
    EXPECT_TRUE(refused.contains(QStringLiteral("not the one the job pins"))) << refused.toStdString();

    setup = SetupFromArguments({"--job", QString::fromStdString(good), "--ask-unit"}, code);
    ASSERT_TRUE(setup.has_value());
    const std::string jobSha = setup->job->jobSha256;
    // U-OLD was loaded good for this job before this run.
    {
        RecordLog earlier(RecordLog::DefaultPath(), "BootloaderZL-Stations", "test", nullptr);
        TransferRecord r;
        r.port = u"\\\\.\\COM99";
        r.reachedDevice = true;
        ASSERT_TRUE(earlier.Write(r, RecordTags{"U-OLD", setup->job->name, setup->job->jobSha256}));
    }
    std::vector<std::unique_ptr<ZlSim>> sims;
    for (int com : {91, 92}) {
        sims.push_back(std::make_unique<ZlSim>("pic32", com, env.dir() + "/line" + std::to_string(com) + ".jsonl",
                                               std::vector<std::string>{"--flash", env.dir() + "/flash" + std::to_string(com)}));
        ASSERT_TRUE(sims.back()->Ready());
    }
    auto window = std::make_unique<StationsWindow>(std::move(*setup));
    window->resize(1280, 800);
    window->show();
    const std::vector<Tile*> tiles = window->Tiles();
    ASSERT_EQ(tiles.size(), 2u);
    int locked = 0;
    for (QPushButton* b : window->findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("Datei w\u00e4hlen \u2026") || b->text() == QStringLiteral("Auto-Load aus")) {
            EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
            ++locked;
        }
    }
    for (QComboBox* box : window->findChildren<QComboBox*>()) {
        if (qobject_cast<PortCombo*>(box)) continue;
        EXPECT_FALSE(box->isEnabled());
        ++locked;
    }
    EXPECT_EQ(locked, 3);
    bool headerShown = false;
    for (QLabel* l : window->findChildren<QLabel*>())
        headerShown |= l->text().contains(QStringLiteral("Line 4 - Corvel")) && l->text().contains(QString::fromStdString(job.sha256.substr(0, 12)));
    EXPECT_TRUE(headerShown);

    // Without an ID nothing is searched.
    ASSERT_TRUE(WaitUntil([&] { return tiles[0]->WaitingForUnit() && tiles[1]->WaitingForUnit(); }, 15000));
    QTest::qWait(1000);
    for (Tile* t : tiles) EXPECT_NE(ViewOf(t).status, Text(TextId::StatusSearching, false));

    // Scanned into the first tile; Enter moves on to the second.
    QLineEdit* first = UnitField(tiles[0]);
    QLineEdit* second = UnitField(tiles[1]);
    EXPECT_TRUE(first->hasFocus());
    QTest::keyClicks(first, QStringLiteral("U-1"));
    QTest::keyClick(first, Qt::Key_Return);
    EXPECT_TRUE(second->hasFocus());
    QTest::keyClicks(second, QStringLiteral("U-OLD"));
    QTest::keyClick(second, Qt::Key_Return);
    QTest::qWait(300);
    EXPECT_EQ(ViewOf(tiles[1]).unit, "");  // warned, not taken
    bool warned = false;
    for (QLabel* l : tiles[1]->findChildren<QLabel*>())
        warned |= l->isVisible() && l->text().contains(QStringLiteral("U-OLD bereits erfolgreich geladen am"));
    EXPECT_TRUE(warned);
    QTest::keyClick(second, Qt::Key_Return);  // loaded again all the same
    EXPECT_EQ(ViewOf(tiles[1]).unit, "U-OLD");
    for (Tile* t : tiles) ASSERT_TRUE(WaitUntil([&] { return ViewOf(t).status == Text(TextId::StatusSearching, false); }, 5000)) << ToUtf8(ViewOf(t).status) << ToUtf8(ViewOf(t).stopText) << ViewOf(t).unit;
    for (auto& sim : sims) ASSERT_EQ(sim->Command("power on").substr(0, 2), "ok");

    for (Tile* t : tiles) ASSERT_TRUE(WaitUntil([&] { return ViewOf(t).good == 1; }, 40000)) << ViewOf(t).failed << ToUtf8(ViewOf(t).status) << (ViewOf(t).box ? ToUtf8(ViewOf(t).box->text) : "") << ToUtf8(ViewOf(t).verdictText);
    // Done with: each ID is cleared, and the station waits for the next one.
    for (auto& sim : sims) ASSERT_EQ(sim->Command("power off").substr(0, 2), "ok");
    for (Tile* t : tiles)
        EXPECT_TRUE(WaitUntil([&] {
            return ViewOf(t).status == Text(TextId::StatusStopped, false) && t->WaitingForUnit() && UnitField(t)->text().isEmpty();
        }, 10000));
    const report::YieldFigures f = window->Figures();
    EXPECT_EQ(f.good, 2u);
    EXPECT_EQ(f.failed, 0u);
    EXPECT_EQ(f.firstPassYield, 1.0);
    EXPECT_TRUE(f.loadMedianS.has_value());
    EXPECT_TRUE(window->grab().save(QStringLiteral(BZL_SCREENSHOT_DIR "/stations-job.png")));
    window.reset();

    // One load and one verify per unit, each naming its unit and the job.
    std::ifstream in(RecordLog::DefaultPath());
    std::map<std::string, std::vector<std::string>> byUnit;
    JsonDocument doc;
    report::RecordSummary r;
    for (std::string line; std::getline(in, line);) {
        ASSERT_TRUE(report::ReadRecord(line, doc, r)) << line;
        EXPECT_EQ(r.jobSha256, jobSha);
        EXPECT_EQ(r.firmware, "Line 4 - Corvel");
        EXPECT_TRUE(r.good) << line;
        byUnit[r.unitId].push_back(r.operation);
    }
    EXPECT_EQ(byUnit["U-1"], (std::vector<std::string>{"load", "verify"}));
    EXPECT_EQ(byUnit["U-OLD"], (std::vector<std::string>{"load", "load", "verify"}));
    for (int i : {0, 1}) EXPECT_EQ(ReadFile(env.dir() + "/flash" + std::to_string(91 + i)), ReadFile(image));
}

// --serve: an address other than loopback without a token is refused in a box; on
// loopback the window serves its stations: a load shows in the metrics and the stations'
// JSON, a removed station leaves the JSON (its transfers stay counted), and the server
// ends with the window.
TEST(StationsWindow, ServesItsStationsOverHttp) {
    test::TempEnv env;
    setenv("XDG_STATE_HOME", env.dir().c_str(), 1);
    {
        std::ofstream profile(env.dir() + "/Hallwyn/BootloaderZL-Stations.conf");
        profile << "[General]\nStations=COM61\n";
    }
    int code = 0;
    std::optional<WindowSetup> setup;
    const QString refused = BoxTextDuring([&] { setup = SetupFromArguments({"--serve", "0.0.0.0:0"}, code); });
    EXPECT_FALSE(setup.has_value());
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(refused.contains(QStringLiteral("not a loopback address"))) << refused.toStdString();
    setup = SetupFromArguments({"--serve=127.0.0.1:0"}, code);
    ASSERT_TRUE(setup.has_value() && setup->serve.has_value());

    const std::string image = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "32768", "-o", image}));
    ZlSim sim("pic32", 61, env.dir() + "/line61.jsonl", {"--flash", env.dir() + "/flash61"});
    ASSERT_TRUE(sim.Ready());
    auto window = std::make_unique<StationsWindow>(std::move(*setup));
    std::string error;
    ASSERT_TRUE(window->StartServing(error)) << error;
    const int port = window->ServePort();
    ASSERT_GT(port, 0);
    window->show();
    window->SetAutoLoadFile(FromUtf8(image));
    Tile* tile = window->Tiles().at(0);
    ASSERT_TRUE(WaitUntil([&] { return ViewOf(tile).status == Text(TextId::StatusSearching, false); }, 15000));
    ASSERT_EQ(sim.Command("power on").substr(0, 2), "ok");
    ASSERT_TRUE(WaitUntil([&] { return ViewOf(tile).good == 1; }, 40000)) << ToUtf8(ViewOf(tile).status);

    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(5, 0);
    auto get = [&](const char* path) {
        const httplib::Result r = client.Get(path);
        return r && r->status == 200 ? r->body : std::string("(no answer)");
    };
    const std::string metrics = get("/metrics");
    EXPECT_NE(metrics.find("zl_transfers_total{station=\"COM61\",operation=\"load\",outcome=\"ok\",cause=\"none\"} 1\n"),
              std::string::npos) << metrics;
    EXPECT_NE(metrics.find("program=\"BootloaderZL-Stations\""), std::string::npos);
    const std::string stations = get("/api/v1/stations");
    EXPECT_NE(stations.find("\"station\":\"COM61\""), std::string::npos) << stations;
    EXPECT_NE(stations.find("\"good\":1"), std::string::npos) << stations;
    EXPECT_NE(get("/api/v1/records").find("\"outcome\":\"ok\""), std::string::npos);

    emit tile->removeRequested();
    ASSERT_TRUE(window->Tiles().empty());
    EXPECT_EQ(get("/api/v1/stations").find("COM61"), std::string::npos);
    EXPECT_NE(get("/metrics").find("station=\"COM61\""), std::string::npos);
    window.reset();
    EXPECT_FALSE(httplib::Client("127.0.0.1", port).Get("/metrics"));
}

}  // namespace
}  // namespace zl::stations

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
