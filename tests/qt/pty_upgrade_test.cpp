#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "app/qt/gui_session.h"
#include "app/qt/settings/ini_settings.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/qt/support/qt_printers.h"
#include "tests/qt/support/run_until.h"
#include "tests/qt/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

constexpr int kBlocks = 96;

// Records kept in memory, as the window hands them over.
class MemorySink : public RecordSink {
 public:
  void Append(BoxRecord record) override { records.push_back(std::move(record)); }
  std::optional<std::string> TakeProblem() override { return std::exchange(problem, std::nullopt); }
  bool Settled() override { return settled; }
  void Flush() override {}
  std::vector<BoxRecord> records;
  // A store that fails, as the writer finds out after the box has ended.
  std::optional<std::string> problem;
  bool settled = true;
};

// A simulated box on a fresh pty, played on its own thread, and the window
// set up to open the pty's slave with a good image.
class PtyUpgradeTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_directory_ = QDir::currentPath();
    ImageSpec recipe;
    recipe.model_name = "MX1";
    // A current hardware indication: the box is compared, not waved through.
    recipe.hardware_version = {4, 2, 3};
    recipe.software_version = {4, 5, 6};
    recipe.start_block = 16;
    std::vector<std::uint8_t> payload(kBlocks * 1024);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    image_ = dir.PathOf("box.bin");
    WriteImageFile(image_, recipe, payload);

    QSettings ini(QString::fromStdString(dir.PathOf("stbup.ini")), QSettings::IniFormat);
    const QString group = "SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/";
    ini.setValue(group + "FileName", QString::fromStdString(image_));
    ini.setValue(group + "ComPort", QString::fromStdString(pty.slave_path()));
    ini.setValue(group + "PortIndex", "0");
  }

  void TearDown() override {
    simulator_->Stop();
    if (box_.joinable()) box_.join();
    session.reset();
    QDir::setCurrent(saved_directory_);
  }

  void StartBox(SimulatorOptions options) {
    options.image = ReadImageInfo(image_);
    simulator_ = std::make_unique<BoxSimulator>(std::move(options));
    box_ = std::thread([this] {
      LineHooks hooks;
      hooks.on_first_contact = [this] { pty.ReleaseSlave(); };
      hooks.hang_up = [this] { pty.CloseMaster(); };
      summaries_ = simulator_->Run(pty.master(), hooks);
      box_done_ = true;
    });
  }

  void StartWindow(const WindowRecords& whose = {}) {
    settings = std::make_unique<IniSettings>(QString::fromStdString(dir.PathOf("stbup.ini")));
    session = std::make_unique<GuiSession>(*settings, dialogs, dir.PathOf("trace.jsonl"), &records,
                                           whose);
    // What the setup controls show while the bars move, sampled as it runs.
    sampler_.callOnTimeout([this] {
      TMainFrm& frame = session->Frame();
      const int pb1 = frame.pb1->value();
      if (pb1 > 0 && pb1 < 100) {
        ++samples_in_download_;
        if (frame.cbPort->isEnabled() || frame.bbFileOpen->isEnabled() ||
            frame.bbExit->isEnabled()) {
          ++enabled_in_download_;
        }
      }
    });
    sampler_.start(1);
    session->Start("");
  }

  QStringList Memo() { return session->Frame().Memo2->toPlainText().split('\n'); }

  QStringList TraceLines() {
    QFile file(QString::fromStdString(dir.PathOf("trace.jsonl")));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  TempDir dir;
  PtyEndpoint pty;
  ScriptedDialogs dialogs;
  MemorySink records;
  std::unique_ptr<IniSettings> settings;
  std::unique_ptr<GuiSession> session;
  std::atomic<bool> box_done_{false};
  std::vector<SimulationSummary> summaries_;
  int samples_in_download_ = 0;
  int enabled_in_download_ = 0;

 private:
  std::string image_;
  QString saved_directory_;
  std::unique_ptr<BoxSimulator> simulator_;
  std::thread box_;
  QTimer sampler_;
};

TEST_F(PtyUpgradeTest, WholeUpgradeThroughTheWindow) {
  // At a line's pace (about 10 ms a block), so that the window is seen in
  // the download: it shows the bars every few hundredths of a second.
  SimulatorOptions options;
  options.baud = 1000000;
  StartBox(options);
  StartWindow();
  TMainFrm& frame = session->Frame();
  EXPECT_FALSE(frame.bbConnect->isVisible());
  // The box has finished once it sent its last line; the window then still
  // has that line to handle.
  ASSERT_TRUE(RunUntil([&] { return box_done_ && frame.bbConnect->isVisible(); }, 60s));
  ASSERT_EQ(summaries_.size(), 1u);
  EXPECT_EQ(summaries_[0].verdict, "verified");
  EXPECT_EQ(summaries_[0].blocks, kBlocks);

  const QStringList memo = Memo();
  EXPECT_EQ(memo.front(), "[ Upgrade mode. ]");
  for (const char* line : {"File open O.K.!", "5518 detected..", "Connect Success",
                           "DownLoad Start", "DownLoad Success", "DownLoad CRC Check OK",
                           "Flash Write Start", "Flash CRC Check OK", "Upgrade End"}) {
    EXPECT_TRUE(memo.contains(line)) << line;
  }
  EXPECT_EQ(memo.back(), "  ");
  EXPECT_EQ(memo[memo.size() - 2],
            QString::fromStdString(pty.slave_path()) + " Off !!! (\"Enter\" key to reconnect.)");

  EXPECT_EQ(frame.pb1->value(), 100);
  EXPECT_EQ(frame.pb2->value(), 100);
  EXPECT_EQ(frame.labelFileSize->text(), QString("(%1 / %1)").arg(kBlocks * 1024));
  EXPECT_EQ(frame.lblLogoName->text(), "Upgrade End!");
  EXPECT_EQ(frame.lblLogoName->palette().color(QPalette::WindowText), QColor(255, 255, 255));
  EXPECT_EQ(frame.lblLogoName->palette().color(QPalette::Window), QColor(0, 0, 255));
  EXPECT_TRUE(frame.bbConnect->isVisible());
  EXPECT_EQ(frame.bbConnect->text(), "Disconnected");
  EXPECT_TRUE(frame.Label3->text().startsWith("L 217")) << frame.Label3->text().toStdString();

  // Locked from the box's ACK until the run ended, and unlocked after.
  EXPECT_GT(samples_in_download_, 0);
  EXPECT_EQ(enabled_in_download_, 0);
  EXPECT_TRUE(frame.cbPort->isEnabled() && frame.bbFileOpen->isEnabled() &&
              frame.bbExit->isEnabled());
  const QStringList trace = TraceLines();
  const auto index_of = [&](const QString& part, qsizetype from = 0) {
    for (qsizetype i = from; i < trace.size(); ++i) {
      if (trace[i].contains(part)) return i;
    }
    return qsizetype{-1};
  };
  const qsizetype ack = index_of("\"memo\":\"Connect Success\"");
  const qsizetype locked = index_of("\"setup_enabled\":false");
  const qsizetype end = index_of("\"memo\":\"Upgrade End\"");
  const qsizetype unlocked = index_of("\"setup_enabled\":true", locked);
  ASSERT_GE(ack, 0);
  EXPECT_EQ(locked, ack + 1);
  EXPECT_GT(unlocked, end);
  EXPECT_EQ(index_of("\"setup_enabled\":true", locked + 1), unlocked);
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_TRUE(dialogs.errors.isEmpty());

  ASSERT_EQ(records.records.size(), 1u);
  const BoxRecord& record = records.records[0];
  EXPECT_EQ(record.verdict, Verdict::kUpgraded);
  EXPECT_EQ(record.exit_status, 0);
  EXPECT_EQ(record.front_end, "window");
  EXPECT_EQ(record.port, pty.slave_path());
  EXPECT_EQ(record.blocks_sent, kBlocks);
  EXPECT_EQ(record.box_model, "MX1");
  EXPECT_EQ(record.image_model, "MX1");
  EXPECT_EQ(record.log_tail, "");

  // The port stays open after success; the button restarts the exchange on
  // it, so the next box is woken.
  EXPECT_TRUE(session->VaComm1().Active());
  frame.bbConnect->click();
  EXPECT_EQ(Memo().mid(memo.size()).front(), "[ Upgrade mode. ]");
  EXPECT_EQ(session->Controller().Timer1().Interval(), 100);
  EXPECT_FALSE(frame.bbConnect->isVisible());
}

// The operator closes the window while the box is sending: the replies the
// serial thread was running for the window stop with it, and nothing waits.
TEST_F(PtyUpgradeTest, ClosingTheWindowMidDownloadLeavesNothingWaiting) {
  SimulatorOptions options;
  options.baud = 1000000;
  StartBox(options);
  StartWindow();
  TMainFrm& frame = session->Frame();
  ASSERT_TRUE(RunUntil([&] { return frame.pb1->value() >= 10; }, 30s));
  const auto closing = std::chrono::steady_clock::now();
  session.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, 2s);
  EXPECT_TRUE(records.records.empty() || records.records[0].verdict != Verdict::kUpgraded);
}

// The window's verdicts come from the engine's run events: a refused box is
// one record; a box that restarts after its success adds none.
TEST_F(PtyUpgradeTest, TheWindowRecordsEachBoxOnce) {
  SimulatorOptions options;
  options.model.emplace("ZZZ");
  options.ack_timeout_ms = 200;  // the refused box gives up soon
  StartBox(options);
  StartWindow();
  ASSERT_TRUE(RunUntil([&] { return box_done_ && !records.records.empty(); }, 30s));
  ASSERT_EQ(records.records.size(), 1u);
  EXPECT_EQ(records.records[0].verdict, Verdict::kRefused);
  EXPECT_EQ(records.records[0].exit_status, 5);
  EXPECT_EQ(records.records[0].box_model, "ZZZ");
  EXPECT_NE(records.records[0].log_tail.find("Upgrade Fail"), std::string::npos)
      << records.records[0].log_tail;
}

// The writer tries a record after the box has ended: the window waits for
// it, then says once in the memo that the record was not written, and why.
TEST_F(PtyUpgradeTest, ARecordThatCouldNotBeWrittenIsSaidOnceInTheMemo) {
  records.problem = "/srv/records.sqlite3: cannot open: unable to open database file";
  records.settled = false;
  StartBox({});
  StartWindow();
  ASSERT_TRUE(RunUntil([&] { return records.records.size() == 1; }, 30s));
  const QString said =
      ">> records: /srv/records.sqlite3: cannot open: unable to open database file";
  RunUntil([] { return false; }, 300ms);
  EXPECT_FALSE(Memo().contains(said));  // not before the writer has tried
  records.settled = true;
  EXPECT_TRUE(RunUntil([&] { return Memo().contains(said); }, 5s))
      << Memo().join('\n').toStdString();
  RunUntil([] { return false; }, 300ms);
  EXPECT_EQ(Memo().count(said), 1);
}

// The uploader meets the line's server between boxes as well: what it says
// then reaches the memo without waiting for another box, once.
TEST_F(PtyUpgradeTest, TheLineServersProblemsReachTheMemoBetweenBoxes) {
  StartBox({});
  StartWindow();
  ASSERT_TRUE(RunUntil([&] { return box_done_ && records.records.size() == 1; }, 30s));
  RunUntil([] { return false; }, 300ms);
  const QString refused =
      ">> records: the line's server (host=db.line dbname=records): connection refused";
  EXPECT_FALSE(Memo().contains(refused));
  records.problem = "the line's server (host=db.line dbname=records): connection refused";
  EXPECT_TRUE(RunUntil([&] { return Memo().contains(refused); }, 5s))
      << Memo().join('\n').toStdString();
  RunUntil([] { return false; }, 600ms);
  EXPECT_EQ(Memo().count(refused), 1);
  EXPECT_EQ(Memo().last(), refused);
}

TEST_F(PtyUpgradeTest, TheRecordNamesTheStationOperatorAndWorkOrderGiven) {
  WindowRecords whose;
  whose.station_name = "line-2";
  whose.operator_name = "Ana";
  whose.work_order = "WO-1207";
  StartBox({});
  StartWindow(whose);
  ASSERT_TRUE(RunUntil([&] { return box_done_ && !records.records.empty(); }, 30s));
  ASSERT_EQ(records.records.size(), 1u);
  EXPECT_EQ(records.records[0].station, "line-2");
  EXPECT_EQ(records.records[0].operator_name, "Ana");
  EXPECT_EQ(records.records[0].work_order, "WO-1207");
  EXPECT_EQ(records.records[0].front_end, "window");
}

TEST_F(PtyUpgradeTest, ABoxWhosePortGoesAwayIsRecordedAsSuch) {
  SimulatorOptions options;
  options.hangup_after = 3;
  StartBox(options);
  StartWindow();
  ASSERT_TRUE(RunUntil([&] { return box_done_ && !records.records.empty(); }, 30s));
  ASSERT_EQ(records.records.size(), 1u);
  EXPECT_EQ(records.records[0].verdict, Verdict::kPortGone);
  EXPECT_EQ(records.records[0].exit_status, 7);
  EXPECT_EQ(records.records[0].blocks_sent, 4);
  EXPECT_EQ(records.records[0].port, pty.slave_path());
}

TEST_F(PtyUpgradeTest, EnterReconnectsAfterTheBoxStartedItsOwnSoftware) {
  SimulatorOptions options;
  options.restart_notice = true;
  StartBox(options);
  StartWindow();
  TMainFrm& frame = session->Frame();
  // The port is closed by the logic at once; the widgets show it, and the box's last lines,
  // soon after and not necessarily in the same turn.
  ASSERT_TRUE(RunUntil(
      [&] {
        return box_done_ && !session->VaComm1().Active() && frame.bbConnect->isVisible() &&
               Memo().contains("STB normal start.") &&
               frame.lblLogoName->text() == "Disconnected !" && !records.records.empty();
      },
      60s));
  const QStringList memo = Memo();
  EXPECT_TRUE(memo.contains("STB normal start."));
  ASSERT_EQ(records.records.size(), 1u);
  EXPECT_EQ(records.records[0].verdict, Verdict::kUpgraded);
  EXPECT_EQ(frame.lblLogoName->text(), "Disconnected !");
  EXPECT_TRUE(frame.bbConnect->isVisible());
  EXPECT_EQ(frame.bbConnect->text(), "Disconnected");

  // Enter in the window's log: the whole reset again, the port reopened, 0x07.
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QCoreApplication::sendEvent(frame.Memo2, &enter);
  EXPECT_TRUE(session->VaComm1().Active());
  EXPECT_FALSE(frame.bbConnect->isVisible());
  EXPECT_EQ(frame.lblLogoName->text(), "Simple and Speedy");
  EXPECT_EQ(Memo().mid(memo.size()).front(), "[ Upgrade mode. ]");
  std::string received;
  ASSERT_TRUE(RunUntil(
      [&] {
        pollfd ready{pty.master(), POLLIN, 0};
        char byte;
        while (poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) &&
               read(pty.master(), &byte, 1) == 1) {
          received += byte;
        }
        return received.find('\x1F') != std::string::npos;
      },
      5s));
  EXPECT_EQ(received.front(), '\x07');
}

}  // namespace
}  // namespace stbup
