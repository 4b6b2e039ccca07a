// The station window at 1280x800 with five stations against zlsim devices paced at the
// line rate: four load while the fifth, unplugged mid-load, shows its box in its tile
// and then its failure. Saves a picture of each moment (stations-box.png,
// stations-failed.png); run under Xvfb to see the real window.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/texts.h"
#include "platform/text_convert.h"
#include "platform/win32.h"
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

}  // namespace
}  // namespace zl::stations

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
