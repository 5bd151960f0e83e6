#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <functional>
#include <stdexcept>
#include <vector>

#include "app/qt/main_frm_controller.h"
#include "app/qt/settings/ini_settings.h"
#include "image/image_writer.h"
#include "tests/qt/support/qt_printers.h"
#include "tests/qt/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/support/window_fakes.h"

namespace stbup {
namespace {

constexpr const char* kGroup = "SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/";

class StartUpTest : public testing::Test {
 protected:
  StartUpTest() : saved_directory_(QDir::currentPath()) {}
  ~StartUpTest() override { QDir::setCurrent(saved_directory_); }

  QString IniPath() const { return QString::fromStdString(dir.PathOf("stbup.ini")); }

  void SaveSettings(const QString& file_name, const QString& port, const QString& index) {
    QSettings ini(IniPath(), QSettings::IniFormat);
    ini.setValue(QString(kGroup) + "FileName", file_name);
    ini.setValue(QString(kGroup) + "ComPort", port);
    ini.setValue(QString(kGroup) + "PortIndex", index);
  }

  QString Saved(const char* name) {
    QSettings ini(IniPath(), QSettings::IniFormat);
    return ini.value(QString(kGroup) + name).toString();
  }

  std::string WriteImage(const std::string& name) {
    ImageSpec recipe;
    recipe.model_name = "SL2M2";
    recipe.hardware_version = {1, 2, 3};
    recipe.software_version = {4, 5, 6};
    const std::vector<std::uint8_t> payload(3000, 0x5A);
    const std::string path = dir.PathOf(name);
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    WriteImageFile(path, recipe, payload);
    return path;
  }

  MainFrmController& Start(const std::string& argument = {}) {
    settings = std::make_unique<IniSettings>(IniPath());
    window = std::make_unique<MainFrmController>(port, *settings, dialogs);
    window->Start(argument);
    return *window;
  }

  QStringList Memo() { return window->Frame().Memo2->toPlainText().split('\n'); }

  TempDir dir;
  FakePort port;
  ScriptedDialogs dialogs;
  std::unique_ptr<IniSettings> settings;
  std::unique_ptr<MainFrmController> window;

 private:
  QString saved_directory_;
};

TEST_F(StartUpTest, FirstRunCreatesTheKeyAndLeavesThePortClosed) {
  TMainFrm& frame = Start().Frame();
  EXPECT_EQ(frame.windowTitle(), "UPGRADE TOOL (V2.38-a) 14-Feb-2006 user X SL2M2");
  EXPECT_EQ(Saved("FileName"), "");
  EXPECT_EQ(Saved("ComPort"), "COM1");
  EXPECT_EQ(Saved("PortIndex"), "0");
  EXPECT_EQ(Memo().front(), "[ Upgrade mode. ]");
  EXPECT_TRUE(Memo().contains("\"\"")) << frame.Memo2->toPlainText().toStdString();
  EXPECT_FALSE(port.active);
  EXPECT_EQ(port.open_attempts, 0);
  EXPECT_TRUE(frame.bbConnect->isVisible());
  EXPECT_EQ(frame.bbConnect->text(), "Connected");
  EXPECT_EQ(window->Timer1().Interval(), 100);
  EXPECT_TRUE(frame.lblLogoName->isVisible());
  EXPECT_EQ(frame.lblLogoName->text(), "Simple and Speedy");
  EXPECT_FALSE(frame.edStartBlock->isVisible());
  EXPECT_FALSE(frame.lableStartBlock->isVisible());
  // Each COMn with the device it opens.
  EXPECT_EQ(frame.cbPort->currentText(), "COM1  /dev/for-COM1");
  EXPECT_EQ(frame.cbPort->itemText(9), "COM10  /dev/for-COM10");
  EXPECT_EQ(frame.pos(), QPoint(30, 50));
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(StartUpTest, SavedSettingsOpenThePortAndSelectTheSavedIndex) {
  const std::string image = WriteImage("images/good.bin");
  SaveSettings(QString::fromStdString(image), "COM3", "5");
  TMainFrm& frame = Start().Frame();
  EXPECT_EQ(frame.edFileName->text().toStdString(), image);
  EXPECT_EQ(frame.edModelName->text(), "SL2M2");
  EXPECT_EQ(QDir::currentPath().toStdString() + "/", dir.PathOf("images/"));
  // The selector shows the port used, whatever the saved index says.
  EXPECT_EQ(port.device_name, "COM3");
  EXPECT_EQ(frame.cbPort->currentIndex(), 2);
  EXPECT_TRUE(dialogs.errors.isEmpty());
  EXPECT_TRUE(port.active);
  EXPECT_FALSE(frame.bbConnect->isVisible());
  EXPECT_EQ(frame.lblLogoName->text(), "Simple and Speedy");
  EXPECT_EQ(port.written, "\x07");
  EXPECT_TRUE(Memo().contains("File open O.K.!")) << frame.Memo2->toPlainText().toStdString();
}

TEST_F(StartUpTest, CommandLineImageIsUsedAndSavedOnClose) {
  SaveSettings("/nowhere/old.bin", "COM1", "0");
  const std::string image = WriteImage("cli.bin");
  TMainFrm& frame = Start(image).Frame();
  EXPECT_EQ(frame.edFileName->text().toStdString(), image);
  EXPECT_TRUE(port.active);
  EXPECT_TRUE(frame.close());
  EXPECT_EQ(Saved("FileName").toStdString(), image);
}

TEST_F(StartUpTest, ABadPortIndexIsReportedOnceAndStartUpGoesOn) {
  const std::string image = WriteImage("good.bin");
  for (const char* index : {"x1", "", "4294967296", "-3", "99"}) {
    SCOPED_TRACE(index);
    SaveSettings(QString::fromStdString(image), "COM2", index);
    dialogs.errors.clear();
    port = FakePort{};
    const std::string argument = dir.PathOf("good.bin");
    TMainFrm& frame = Start(argument).Frame();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].endsWith("is not a valid integer value") ||
                dialogs.errors[0].endsWith("is not a valid port index"))
        << dialogs.errors[0].toStdString();
    EXPECT_EQ(frame.edFileName->text().toStdString(), argument);
    EXPECT_EQ(frame.edModelName->text(), "SL2M2");
    EXPECT_EQ(port.device_name, "COM2");
    EXPECT_TRUE(port.active);
    EXPECT_EQ(frame.cbPort->currentIndex(), 1);
    // Closing erases nothing and leaves an index that agrees with the port.
    EXPECT_TRUE(frame.close());
    EXPECT_EQ(Saved("FileName").toStdString(), argument);
    EXPECT_EQ(Saved("ComPort"), "COM2");
    EXPECT_EQ(Saved("PortIndex"), "1");
  }
}

// A store on a full disk or in a read-only folder: every write fails as
// IniSettings reports it (tests may run as root, who can write anywhere).
class UnwritableSettings : public IniSettings {
 public:
  using IniSettings::IniSettings;
  void WriteString(std::string_view name, std::string_view) override {
    ++attempts;
    throw std::runtime_error("Failed to set data for '" + std::string(name) + "'");
  }
  int attempts = 0;
};

TEST_F(StartUpTest, ASettingsFileThatCannotBeWrittenStillLetsTheWindowClose) {
  const std::string image = WriteImage("good.bin");
  SaveSettings(QString::fromStdString(image), "COM1", "0");
  UnwritableSettings unwritable(IniPath());
  MainFrmController controller(port, unwritable, dialogs);
  controller.Start("");
  TMainFrm& frame = controller.Frame();
  ASSERT_TRUE(dialogs.errors.isEmpty());
  frame.edFileName->setText("/typed/other.bin");
  frame.bbExit->click();
  EXPECT_FALSE(frame.isVisible());
  EXPECT_EQ(dialogs.errors,
            QStringList{"Failed to set data for 'FileName'. The settings were not saved."});
  EXPECT_EQ(unwritable.attempts, 1);
  EXPECT_EQ(Saved("FileName").toStdString(), image);
}

TEST_F(StartUpTest, AnUnreadableOrDamagedSettingsFileIsReportedOnceAndNeverRewritten) {
  const std::string image = WriteImage("good.bin");
  struct Case {
    const char* name;
    std::function<void()> arrange;
    QString says;
  };
  const std::vector<Case> cases = {
      {"damaged",
       [&] {
         QFile file(IniPath());
         ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         file.write("[SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP]\nFileName=" +
                    QByteArray(image.c_str()) + "\n[Ports\nCOM1=/dev/null\n");
       },
       "is damaged; it is left as it is and the settings will not be saved."},
      {"unreadable", [&] { ASSERT_TRUE(QDir().mkpath(IniPath())); },
       "the settings will not be saved."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(IniPath());
    QDir().rmdir(IniPath());
    c.arrange();
    QByteArray before;
    if (QFile file(IniPath()); file.open(QIODevice::ReadOnly)) before = file.readAll();
    dialogs.errors.clear();
    port = FakePort{};
    TMainFrm& frame = Start(image).Frame();
    ASSERT_EQ(dialogs.errors.size(), 1) << dialogs.errors.join('|').toStdString();
    EXPECT_TRUE(dialogs.errors[0].endsWith(c.says)) << dialogs.errors[0].toStdString();
    EXPECT_EQ(frame.edModelName->text(), "SL2M2");  // the window still works
    EXPECT_TRUE(port.active);
    EXPECT_TRUE(frame.close());
    EXPECT_EQ(dialogs.errors.size(), 1);
    QByteArray after;
    if (QFile file(IniPath()); file.open(QIODevice::ReadOnly)) after = file.readAll();
    EXPECT_EQ(after, before);
  }
  QDir().rmdir(IniPath());
}

TEST_F(StartUpTest, ClosingSavesWhatTheWindowShows) {
  const std::string image = WriteImage("good.bin");
  SaveSettings(QString::fromStdString(image), "COM1", "0");
  TMainFrm& frame = Start().Frame();
  frame.cbPort->setCurrentIndex(3);
  emit frame.cbPort->activated(3);
  EXPECT_EQ(port.device_name, "COM4");
  EXPECT_EQ(Memo().back(), "COM4 Connected !");
  frame.edFileName->setText("  /typed/but/never/loaded.bin  ");
  frame.bbExit->click();
  EXPECT_FALSE(frame.isVisible());
  EXPECT_EQ(Saved("FileName"), "/typed/but/never/loaded.bin");
  EXPECT_EQ(Saved("ComPort"), "COM4");
  EXPECT_EQ(Saved("PortIndex"), "3");
}

TEST_F(StartUpTest, BusyPortShowsTheOpenErrorAndTheConnectButtonRetries) {
  const std::string image = WriteImage("good.bin");
  SaveSettings(QString::fromStdString(image), "COM2", "1");
  port.busy.insert("COM2");
  TMainFrm& frame = Start().Frame();
  EXPECT_EQ(dialogs.messages, QStringList{"Serial Port Open Error"});
  EXPECT_EQ(Memo().back(), "COM2 Disconnected !");
  EXPECT_EQ(frame.bbConnect->text(), "Disconnected");
  EXPECT_TRUE(frame.bbConnect->isVisible());
  EXPECT_EQ(window->Timer1().Interval(), 0);

  port.busy.clear();
  frame.bbConnect->click();
  EXPECT_TRUE(port.active);
  EXPECT_FALSE(frame.bbConnect->isVisible());
  EXPECT_EQ(window->Timer1().Interval(), 100);
}

TEST_F(StartUpTest, EnterReconnectsFromAnyControlOtherKeysStayWhereTheyArePressed) {
  const std::string image = WriteImage("good.bin");
  SaveSettings(QString::fromStdString(image), "COM2", "1");
  port.busy.insert("COM2");
  TMainFrm& frame = Start().Frame();
  port.busy.clear();
  const qsizetype lines = Memo().size();

  // Other keys in an edit stay the edit's; Enter, which no edit uses,
  // reconnects from wherever it is pressed.
  QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(frame.Memo2, &other);
  QApplication::sendEvent(frame.edModelName, &other);
  EXPECT_FALSE(port.active);
  EXPECT_EQ(Memo().size(), lines);

  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QApplication::sendEvent(frame.edFileName, &enter);
  EXPECT_TRUE(port.active);
  EXPECT_TRUE(Memo().mid(lines).contains("[ Upgrade mode. ]"));

  // Enter while the port is open and no run is in progress restarts the
  // exchange (the next box is woken) without reopening.
  const qsizetype connected = Memo().size();
  QApplication::sendEvent(frame.Memo2, &enter);
  EXPECT_EQ(Memo().mid(connected).front(), "[ Upgrade mode. ]");
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.written, "\x07\x07");
}

TEST_F(StartUpTest, OpenDialogGetsTheFilterInQtsFormAndLoadsTheChoice) {
  TMainFrm& frame = Start().Frame();
  const std::string image = WriteImage("chosen.bin");
  dialogs.chosen_file = QString::fromStdString(image);
  frame.bbFileOpen->click();
  EXPECT_EQ(dialogs.last_filter, "Binary File (*.bin)");
  EXPECT_EQ(dialogs.last_suffix, "bin");
  EXPECT_EQ(dialogs.last_directory, QDir::currentPath());
  EXPECT_EQ(frame.edFileName->text().toStdString(), image);
  EXPECT_EQ(frame.edModelName->text(), "SL2M2");
  EXPECT_TRUE(port.active);
}

}  // namespace
}  // namespace stbup
