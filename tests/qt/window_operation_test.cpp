// The window as an operator meets it over a real line: replies held while a
// box is shown, an adapter pulled while idle or mid-download, Enter after a
// run, and a restart after success without the box's restart notice.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
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
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "app/qt/gui_session.h"
#include "app/qt/settings/ini_settings.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "serial/va_comm_thread.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/qt/support/qt_printers.h"
#include "tests/qt/support/run_until.h"
#include "tests/qt/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kBlocks = 64;

void RunFor(std::chrono::milliseconds time) {
  RunUntil([] { return false; }, time);
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What the box has been sent so far, without waiting.
std::string Drain(int fd) {
  std::string got;
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 0) != 1 || !(ready.revents & POLLIN)) break;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

std::string WithoutPolls(std::string bytes) {
  std::erase(bytes, '\x1F');
  return bytes;
}

// The window on a device link pointing at a pty, so the device can vanish
// and come back under the same name, as a re-plugged adapter does.
class WindowOperationTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_directory_ = QDir::currentPath();
    ImageSpec recipe;
    recipe.model_name = "MX1";
    recipe.hardware_version = {4, 2, 3};
    recipe.software_version = {4, 5, 6};
    recipe.start_block = 16;
    std::vector<std::uint8_t> payload(kBlocks * 1024);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    image_ = dir.PathOf("box.bin");
    WriteImageFile(image_, recipe, payload);
    device_ = dir.PathOf("ttyBOX");
    pty = std::make_unique<PtyEndpoint>();
    PointDeviceAt(*pty);

    QSettings ini(QString::fromStdString(dir.PathOf("stbup.ini")), QSettings::IniFormat);
    const QString group = "SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/";
    ini.setValue(group + "FileName", QString::fromStdString(image_));
    ini.setValue(group + "ComPort", QString::fromStdString(device_));
    ini.setValue(group + "PortIndex", "0");
  }

  void TearDown() override {
    if (simulator_) simulator_->Stop();
    if (box_.joinable()) box_.join();
    session.reset();
    QDir::setCurrent(saved_directory_);
  }

  void PointDeviceAt(const PtyEndpoint& endpoint) {
    std::filesystem::remove(device_);
    std::filesystem::create_symlink(endpoint.slave_path(), device_);
  }

  void StartBox(SimulatorOptions options) {
    options.image = ReadImageInfo(image_);
    simulator_ = std::make_unique<BoxSimulator>(std::move(options));
    box_ = std::thread([this] {
      LineHooks hooks;
      hooks.on_first_contact = [this] { pty->ReleaseSlave(); };
      hooks.hang_up = [this] { pty->CloseMaster(); };
      simulator_->Run(pty->master(), hooks);
      box_done_ = true;
    });
  }

  void StartWindow() {
    settings = std::make_unique<IniSettings>(QString::fromStdString(dir.PathOf("stbup.ini")));
    session = std::make_unique<GuiSession>(*settings, dialogs, dir.PathOf("trace.jsonl"));
    session->Start("");
  }

  // Reads what the box is sent until it holds want (polls aside), at most limit.
  std::string ReceiveUntil(const std::string& want, std::chrono::milliseconds limit = 3s) {
    std::string got;
    RunUntil(
        [&] {
          got += Drain(pty->master());
          return WithoutPolls(got).find(want) != std::string::npos;
        },
        limit);
    return got;
  }

  QStringList Memo() { return session->Frame().Memo2->toPlainText().split('\n'); }

  QStringList TraceLines() {
    QFile file(QString::fromStdString(dir.PathOf("trace.jsonl")));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  // The transition every loss ends in, as the operator sees it.
  void ExpectPortLostState(const QString& banner) {
    TMainFrm& frame = session->Frame();
    EXPECT_FALSE(session->VaComm1().Active());
    const QString device = QString::fromStdString(device_);
    const QStringList memo = Memo();
    EXPECT_EQ(memo.count(">> " + device + " has gone away (unplugged or hung up)."), 1);
    EXPECT_TRUE(memo.contains(device + " Off !!! (\"Enter\" key to reconnect.)"));
    EXPECT_TRUE(frame.bbConnect->isVisible());
    EXPECT_EQ(frame.bbConnect->text(), "Disconnected");
    EXPECT_EQ(frame.lblLogoName->text(), banner);
    EXPECT_TRUE(frame.cbPort->isEnabled() && frame.bbFileOpen->isEnabled() &&
                frame.bbExit->isEnabled());
    EXPECT_EQ(session->Controller().Timer1().Interval(), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join('|').toStdString();
    const QStringList trace = TraceLines();
    EXPECT_TRUE(trace.filter("\"port\":\"closed\"").size() == 1) << trace.join('\n').toStdString();
    EXPECT_TRUE(trace.filter("\"error\"").isEmpty());
  }

  // Nothing runs while the port is gone: no thread, no poll, no CPU.
  void ExpectIdleWhileGone() {
    RunFor(100ms);
    EXPECT_EQ(TVaCommThread::LiveCount(), 0);
    const double before = CpuSeconds();
    RunFor(1000ms);
    const double spent = CpuSeconds() - before;
    std::printf("CPU while the port is gone: %.3f s in 1 s\n", spent);
    EXPECT_LT(spent, 0.05);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(dialogs.errors.isEmpty());
  }

  // The adapter is plugged in again under the same name: Enter reconnects.
  void ExpectEnterReconnectsOnceTheDeviceIsBack() {
    pty = std::make_unique<PtyEndpoint>();
    PointDeviceAt(*pty);
    TMainFrm& frame = session->Frame();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(frame.Memo2, &enter);
    EXPECT_TRUE(session->VaComm1().Active());
    EXPECT_FALSE(frame.bbConnect->isVisible());
    const std::string received = ReceiveUntil("\x07");
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front(), '\x07');
    EXPECT_EQ(session->Controller().Timer1().Interval(), 100);
  }

  TempDir dir;
  std::unique_ptr<PtyEndpoint> pty;
  ScriptedDialogs dialogs;
  std::unique_ptr<IniSettings> settings;
  std::unique_ptr<GuiSession> session;
  std::atomic<bool> box_done_{false};
  std::string image_;
  std::string device_;

 private:
  QString saved_directory_;
  std::unique_ptr<BoxSimulator> simulator_;
  std::thread box_;
};

TEST_F(WindowOperationTest, RepliesLeaveBeforeTheErrorBoxAndPollsGoOnWhileItIsOpen) {
  // The upload file cannot be created: folders hold its name and every
  // other name it may take.
  ASSERT_TRUE(std::filesystem::create_directory(dir.PathOf("box.tdf")));
  for (int n = 2; n <= 99; ++n) {
    ASSERT_TRUE(std::filesystem::create_directory(dir.PathOf("box-" + std::to_string(n) + ".tdf")));
  }
  StartWindow();
  ASSERT_EQ(ReceiveUntil("\x07").find('\x07'), 0u);

  std::string at_box;
  std::vector<Clock::time_point> polls_in_box;
  dialogs.while_open = [&] {
    // What the box has when the error box appears.
    const auto until = Clock::now() + 300ms;
    while (Clock::now() < until && WithoutPolls(at_box).find('\n') == std::string::npos) {
      at_box += Drain(pty->master());
      std::this_thread::sleep_for(2ms);
    }
    // The operator reads the box for a while; Timer1 keeps running.
    RunUntil(
        [&] {
          for (const char byte : Drain(pty->master())) {
            if (byte == '\x1F') polls_in_box.push_back(Clock::now());
          }
          return false;
        },
        550ms);
  };
  ASSERT_EQ(::write(pty->master(), "ack\n", 4), 4);
  ASSERT_TRUE(RunUntil([&] { return !dialogs.errors.isEmpty(); }, 3s));
  ASSERT_EQ(dialogs.errors.size(), 1);
  EXPECT_TRUE(dialogs.errors[0].startsWith("Cannot create file"))
      << dialogs.errors[0].toStdString();
  EXPECT_EQ(WithoutPolls(at_box), "REQUEST_DOWNLOAD\n");
  // One poll byte per tick while the box is open, not a burst after it.
  ASSERT_GE(polls_in_box.size(), 4u);
  for (std::size_t i = 1; i < polls_in_box.size(); ++i) {
    EXPECT_GT(polls_in_box[i] - polls_in_box[i - 1], 50ms) << "poll " << i;
  }
  EXPECT_LE(WithoutPolls(Drain(pty->master())).size(), 0u);
  const QStringList trace = TraceLines();
  EXPECT_EQ(trace.filter("\"error\":\"Cannot create file").size(), 1);
  EXPECT_TRUE(trace.filter("\"timer1\":0").isEmpty());
}

TEST_F(WindowOperationTest, TheResetByteReachesTheBoxBeforeThePortCloses) {
  StartWindow();
  ASSERT_EQ(ReceiveUntil("\x07").find('\x07'), 0u);
  ASSERT_EQ(::write(pty->master(), "NO_ACKNOWLEDGE with PC.\n", 24), 24);
  ASSERT_TRUE(RunUntil([&] { return !session->VaComm1().Active(); }, 3s));
  EXPECT_EQ(WithoutPolls(ReceiveUntil("\x07", 1s)), "\x07");
  const QStringList memo = Memo();
  EXPECT_TRUE(memo.contains("STB normal start."));
  EXPECT_TRUE(
      memo.contains(QString::fromStdString(device_) + " Off !!! (\"Enter\" key to reconnect.)"));
}

TEST_F(WindowOperationTest, ABadPortIndexIsSaidOnceAndTheSavedPortStillOpens) {
  const QString ini = QString::fromStdString(dir.PathOf("stbup.ini"));
  QSettings(ini, QSettings::IniFormat)
      .setValue("SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/PortIndex", "abc");
  StartWindow();
  EXPECT_EQ(dialogs.errors, QStringList{"'abc' is not a valid integer value"});
  ASSERT_EQ(ReceiveUntil("\x07").find('\x07'), 0u);
  TMainFrm& frame = session->Frame();
  EXPECT_EQ(frame.edModelName->text(), "MX1");
  EXPECT_EQ(frame.cbPort->currentText().toStdString(), device_);
  EXPECT_TRUE(frame.close());
  QSettings saved(ini, QSettings::IniFormat);
  const QString group = "SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/";
  EXPECT_EQ(saved.value(group + "FileName").toString().toStdString(), image_);
  EXPECT_EQ(saved.value(group + "ComPort").toString().toStdString(), device_);
  EXPECT_EQ(saved.value(group + "PortIndex").toString(),
            QString::number(frame.cbPort->currentIndex()));
  EXPECT_EQ(dialogs.errors.size(), 1);
}

TEST_F(WindowOperationTest, AnAdapterPulledWhileIdleIsOneTransitionAndEnterReconnects) {
  StartWindow();
  ASSERT_NE(ReceiveUntil("\x07").find('\x07'), std::string::npos);
  RunFor(250ms);  // polling
  pty->CloseMaster();
  ASSERT_TRUE(RunUntil([&] { return !session->VaComm1().Active(); }, 2s));
  ExpectPortLostState("Simple and Speedy");
  ExpectIdleWhileGone();
  ExpectEnterReconnectsOnceTheDeviceIsBack();
}

TEST_F(WindowOperationTest, AnAdapterPulledMidDownloadEndsTheRunAndEnterReconnects) {
  SimulatorOptions options;
  options.hangup_after = 3;
  StartBox(options);
  StartWindow();
  TMainFrm& frame = session->Frame();
  ASSERT_TRUE(RunUntil([&] { return box_done_ && !session->VaComm1().Active(); }, 20s));
  EXPECT_GT(frame.pb1->value(), 0);
  EXPECT_LT(frame.pb1->value(), 100);
  ExpectPortLostState("Disconnected !");
  EXPECT_FALSE(Memo().contains("DownLoad Success"));
  ExpectIdleWhileGone();
  ExpectEnterReconnectsOnceTheDeviceIsBack();
}

TEST_F(WindowOperationTest, EnterAfterARunRestartsTheExchangeWhereverTheFocusWas) {
  StartWindow();
  TMainFrm& frame = session->Frame();
  frame.activateWindow();
  ASSERT_TRUE(RunUntil([&] { return frame.isActiveWindow(); }, 2s));
  // The operator last touched the port selector, which the box's ACK
  // disables; the box is powered up after that, and finds the wake-up byte.
  frame.cbPort->setFocus(Qt::MouseFocusReason);
  ASSERT_EQ(QApplication::focusWidget(), frame.cbPort);
  StartBox({});  // no restart notice after success: the port stays open
  const QString path = frame.edFileName->text();

  int edit_had_focus = 0;
  QTimer sampler;
  sampler.callOnTimeout([&] {
    QWidget* focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focus) != nullptr) ++edit_had_focus;
  });
  sampler.start(1);
  ASSERT_TRUE(RunUntil([&] { return box_done_ && frame.bbConnect->isVisible(); }, 30s));
  sampler.stop();
  EXPECT_EQ(edit_had_focus, 0);
  ASSERT_TRUE(Memo().contains("Upgrade End"));
  ASSERT_TRUE(session->VaComm1().Active());
  EXPECT_EQ(session->Controller().Timer1().Interval(), 0);
  Drain(pty->master());

  // A stray key changes nothing; Enter restarts the exchange on the open port.
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QKeyEvent stray(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
  QApplication::sendEvent(focus, &stray);
  EXPECT_EQ(frame.edFileName->text(), path);
  const qsizetype lines = Memo().size();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(QApplication::focusWidget(), &enter);
  EXPECT_EQ(Memo().mid(lines).front(), "[ Upgrade mode. ]");
  EXPECT_EQ(session->Controller().Timer1().Interval(), 100);
  // The next box is woken: 0x07, then the poll byte.
  std::string received;
  ASSERT_TRUE(RunUntil(
      [&] {
        received += Drain(pty->master());
        return received.find('\x1F') != std::string::npos;
      },
      3s));
  EXPECT_EQ(received.substr(0, 2), "\x07\x1F");
  EXPECT_EQ(frame.edFileName->text(), path);
}

}  // namespace
}  // namespace stbup
