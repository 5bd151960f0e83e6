#include "cli/doctor_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/posix/doctor_checks.h"
#include "cli/posix/doctor_report.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// A stand-in Linux system: an FTDI adapter at ttyUSB0 whose device belongs
// to the group dialout, the user alice, and folders for processes, udev
// rules and udev's database. The device is a plain file owned by whoever
// runs the test; alice is never its owner.
class DoctorTest : public testing::Test {
 protected:
  DoctorTest() {
    root = tmp.path();
    system.roots = SystemRoots::Under(root);
    device = (root / "dev/ttyUSB0").string();

    const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-2";
    Write(usb / "idVendor", "0403\n");
    Write(usb / "idProduct", "6001\n");
    const fs::path port_dir = usb / "1-2:1.0/ttyUSB0";
    fs::create_directories(port_dir);
    fs::create_directories(root / "sys/bus/usb-serial/drivers/ftdi_sio");
    fs::create_symlink(root / "sys/bus/usb-serial/drivers/ftdi_sio", port_dir / "driver");
    Write(port_dir / "latency_timer", "1\n");
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_symlink(port_dir, root / "sys/class/tty/ttyUSB0/device");
    Write(root / "sys/class/tty/ttyUSB0/dev", "188:0\n");

    // Only root may give a file to a group other than its own.
    port_gid = ::getuid() == 0 ? 20 : ::getgid();
    Write(device, "");
    if (::getuid() == 0) {
      EXPECT_EQ(::chown(device.c_str(), static_cast<uid_t>(-1), port_gid), 0);
    }
    ::chmod(device.c_str(), 0660);
    alice_uid = ::getuid() + 1;
    alice_gid = port_gid + 1;
    Write(root / "etc/passwd", "portowner:x:" + std::to_string(::getuid()) +
                                   ":0::/:/bin/sh\nalice:x:" + std::to_string(alice_uid) + ":" +
                                   std::to_string(alice_gid) + "::/home/alice:/bin/bash\n");
    SetDialoutMembers("");
    system.who.uid = alice_uid;
    system.who.gid = alice_gid;
    fs::create_directories(root / "proc");

    // Records in a folder anyone may write.
    fs::create_directories(root / "records");
    ::chmod((root / "records").c_str(), 0777);
    records = (root / "records/records.sqlite3").string();
    Reload();
  }

  void SetDialoutMembers(const std::string& members) {
    Write(root / "etc/group", "dialout:x:" + std::to_string(port_gid) + ":" + members +
                                  "\nalice:x:" + std::to_string(alice_gid) + ":\n");
  }
  // The accounts and ports as the command reads them.
  void Reload() {
    system.accounts = AccountDatabase(system.roots.etc);
    system.ports = PortsFound(system.roots);
  }
  void StartProcess(int pid, const std::string& name) {
    Write(root / "proc" / std::to_string(pid) / "comm", name + "\n");
  }
  void InstallStbupRule() {
    Write(root / "usr/lib/udev/rules.d/60-stbup-serial.rules", "# stbup\n");
  }

  std::vector<DoctorFinding> Findings(std::unique_ptr<DoctorCheck> check) { return check->Run(); }

  // The whole report: its status and text.
  std::pair<int, std::string> Report(bool json = false) {
    std::ostringstream out;
    DoctorOptions options;
    options.records_file = records;
    const int status = ReportDoctorChecks(LinuxDoctorChecks(system, options), json, out);
    return {status, out.str()};
  }

  std::string Seen() const { return device + " (-rw-rw---- portowner dialout)"; }

  TempDir tmp;
  fs::path root;
  std::string device;
  std::string records;
  gid_t port_gid = 0;
  uid_t alice_uid = 0;
  gid_t alice_gid = 0;
  DoctorSystem system;
};

TEST_F(DoctorTest, PortAccessSaysWhyAndWhatToDo) {
  struct Case {
    const char* name;
    const char* members;  // dialout's members in the group database
    bool login_has_dialout;
    bool root;
    mode_t mode;
    DoctorStatus status;
    std::string found;  // after the device's description
    std::string todo;
  };
  const std::vector<Case> cases = {
      {"not in the group", "", false, false, 0660, DoctorStatus::kTodo,
       ": alice is not in the group dialout",
       "sudo adduser alice dialout, then log out and in again"},
      {"in the group, not yet logged in again", "bob,alice", false, false, 0660,
       DoctorStatus::kTodo,
       ": alice is in the group dialout, but this login began before that and does not have it "
       "yet",
       "log out and in again (or, for this shell only: newgrp dialout)"},
      {"in the group and in this login", "alice", true, false, 0660, DoctorStatus::kOk,
       ": this login has the group dialout", ""},
      {"root", "", false, true, 0660, DoctorStatus::kOk, ": root may open it", ""},
      {"anyone may", "", false, false, 0666, DoctorStatus::kOk, ": anyone may read and write it",
       ""},
      {"the group may not write", "alice", true, false, 0640, DoctorStatus::kTodo,
       ": alice may not read and write it",
       "ask an administrator to give the port to the group dialout (Debian's udev rules do so "
       "for serial ports) and to add alice to that group"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetDialoutMembers(c.members);
    ::chmod(device.c_str(), c.mode);
    Reload();
    system.who.uid = c.root ? 0 : alice_uid;
    system.who.groups = c.login_has_dialout ? std::vector<gid_t>{port_gid} : std::vector<gid_t>{};
    const auto findings = Findings(MakePortAccessCheck(system));
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].status, c.status);
    std::string mode = ModeText(S_IFREG | c.mode);
    EXPECT_EQ(findings[0].found, device + " (" + mode + " portowner dialout)" + c.found);
    EXPECT_EQ(findings[0].todo, c.todo);
  }
}

TEST_F(DoctorTest, PortAccessNamesAMissingPortAndNoPortsAtAll) {
  system.ports = {DescribePort((root / "dev/ttyUSB7").string(), system.roots)};
  auto findings = Findings(MakePortAccessCheck(system));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].status, DoctorStatus::kTodo);
  EXPECT_EQ(findings[0].found, (root / "dev/ttyUSB7").string() + " does not exist");
  EXPECT_EQ(findings[0].todo,
            "plug the adapter in and check the port's name (`stbup ports` lists the serial "
            "devices found)");

  fs::remove_all(root / "sys/class/tty/ttyUSB0");
  Reload();
  findings = Findings(MakePortAccessCheck(system));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].found, "no serial devices found");
  EXPECT_EQ(findings[0].todo,
            "plug the USB serial adapter in (`stbup ports` lists the serial devices found), or "
            "name the port: stbup doctor --port DEVICE");
}

TEST_F(DoctorTest, APortGivenByItsStableNameIsFoundInSysfs) {
  fs::create_directories(root / "dev/serial/by-id");
  const fs::path by_id = root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
  fs::create_symlink("../../ttyUSB0", by_id);
  const DoctorPort port = DescribePort(by_id.string(), system.roots);
  EXPECT_EQ(port.device, by_id.string());
  EXPECT_EQ(port.info.name, "ttyUSB0");
  EXPECT_EQ(port.dev_number, "188:0");
  EXPECT_EQ(PortTitle(port), by_id.string() + " (FTDI 0403:6001)");
}

TEST_F(DoctorTest, AProcessHoldingThePortIsNamed) {
  StartProcess(4242, "minicom");
  fs::create_directories(root / "proc/4242/fd");
  fs::create_symlink(device, root / "proc/4242/fd/3");
  auto findings = Findings(MakePortHolderCheck(system));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].status, DoctorStatus::kTodo);
  EXPECT_EQ(findings[0].found, device + " is held open by minicom (pid 4242)");
  EXPECT_EQ(findings[0].todo,
            "end that program, or have it close the port, before an upgrade: stbup needs the "
            "port to itself");

  fs::remove(root / "proc/4242/fd/3");
  findings = Findings(MakePortHolderCheck(system));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].status, DoctorStatus::kOk);
  EXPECT_EQ(findings[0].found, "no process of this user holds " + device + " open");
}

TEST_F(DoctorTest, ModemManagerIsToldToLeaveTheAdapterAlone) {
  const std::string title = device + " (FTDI 0403:6001)";
  const std::string disable =
      "; or, with no modem on this PC: sudo systemctl disable --now ModemManager";
  const std::string install =
      "install stbup's udev rule (/usr/lib/udev/rules.d/60-stbup-serial.rules, in the stbup "
      "package) and plug the adapter in again";
  struct Case {
    const char* name;
    bool running;
    bool rule;
    const char* udev_data;  // udev's database entry of ttyUSB0; nullptr: none
    bool adapter;
    DoctorStatus status;
    std::string found;
    std::string todo;
  };
  const std::vector<Case> cases = {
      {"not running", false, false, nullptr, true, DoctorStatus::kOk, "not running", ""},
      {"running, nothing said", true, false, "E:ID_VENDOR=FTDI\n", true, DoctorStatus::kTodo,
       "running, and may probe " + title + ": its AT commands would reach the box's boot loader",
       install + disable},
      {"running, rule not applied yet", true, true, nullptr, true, DoctorStatus::kTodo,
       "running, and may probe " + title + ": its AT commands would reach the box's boot loader",
       "plug the adapter in again: stbup's udev rule is installed but was not applied to this "
       "adapter yet" +
           disable},
      {"running, adapter ignored", true, true, "E:ID_VENDOR=FTDI\nE:ID_MM_DEVICE_IGNORE=1\n", true,
       DoctorStatus::kOk, "running, and told to leave " + title + " alone (ID_MM_DEVICE_IGNORE)",
       ""},
      {"running, no adapter, rule", true, true, nullptr, false, DoctorStatus::kOk,
       "running; stbup's udev rule tells it to leave common USB serial adapters alone", ""},
      {"running, no adapter, no rule", true, false, nullptr, false, DoctorStatus::kTodo,
       "running, and without stbup's udev rule it probes USB serial adapters as they are "
       "plugged in",
       install + disable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root / "proc");
    fs::remove_all(root / "usr/lib/udev");
    fs::remove_all(root / "run/udev");
    StartProcess(1, "systemd");
    if (c.running) StartProcess(612, "ModemManager");
    if (c.rule) InstallStbupRule();
    if (c.udev_data) Write(root / "run/udev/data/c188:0", c.udev_data);
    Reload();
    if (!c.adapter) system.ports.clear();
    const auto findings = Findings(MakeModemManagerCheck(system));
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].status, c.status);
    EXPECT_EQ(findings[0].found, c.found);
    EXPECT_EQ(findings[0].todo, c.todo);
  }
}

TEST_F(DoctorTest, BrlttyRuleTakingCommonAdaptersIsFound) {
  const fs::path rule = root / "usr/lib/udev/rules.d/85-brltty.rules";
  const std::string generic =
      "# Device: 1A86:7523\n"
      "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n"
      "# Device: 10C4:EA60\n"
      "SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"10C4\", ATTRS{idProduct}==\"EA60\", "
      "GOTO=\"brltty_usb_run\"\n";
  const std::string todo =
      "without a braille display on this PC: sudo apt remove brltty; to keep brltty, mask the "
      "rule: sudo ln -s /dev/null /etc/udev/rules.d/85-brltty.rules; then plug the adapter in "
      "again";
  const std::string fine = "no udev rule of brltty takes CH340 or CP210x adapters";
  struct Case {
    const char* name;
    std::string rules;  // empty: no brltty rule
    bool masked;
    bool running;
    DoctorStatus status;
    std::string found;
  };
  const std::vector<Case> cases = {
      {"not installed", "", false, false, DoctorStatus::kOk, fine},
      {"installed with its rule", generic, false, false, DoctorStatus::kTodo,
       "installed, and its udev rule " + rule.string() +
           " takes CH340 (1a86:7523) and CP210x (10c4:ea60) adapters for braille displays: such "
           "an adapter's port vanishes as soon as it appears"},
      {"running", generic, false, true, DoctorStatus::kTodo,
       "installed and running, and its udev rule " + rule.string() +
           " takes CH340 (1a86:7523) and CP210x (10c4:ea60) adapters for braille displays: such "
           "an adapter's port vanishes as soon as it appears"},
      {"rule masked", generic, true, false, DoctorStatus::kOk, fine},
      {"rule asks for the display's own product name",
       "ENV{PRODUCT}==\"1a86/7523/*\", ATTRS{product}==\"Braille Line\", GOTO=\"brltty_usb_run\"\n"
       "# ENV{PRODUCT}==\"10c4/ea60/*\", GOTO=\"brltty_usb_run\"\n",
       false, false, DoctorStatus::kOk, fine},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root / "usr/lib/udev");
    fs::remove_all(root / "etc/udev");
    fs::remove_all(root / "proc");
    fs::create_directories(root / "proc");
    if (!c.rules.empty()) Write(rule, c.rules);
    if (c.masked) {
      fs::create_directories(root / "etc/udev/rules.d");
      fs::create_symlink("/dev/null", root / "etc/udev/rules.d/85-brltty.rules");
    }
    if (c.running) StartProcess(300, "brltty");
    const auto findings = Findings(MakeBrlttyCheck(system));
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].status, c.status);
    EXPECT_EQ(findings[0].found, c.found);
    EXPECT_EQ(findings[0].todo, c.status == DoctorStatus::kTodo ? todo : "");
  }
}

TEST_F(DoctorTest, LatencyTimerOfAnFtdiAdapter) {
  const fs::path timer = root / "sys/devices/pci0000:00/usb1/1-2/1-2:1.0/ttyUSB0/latency_timer";
  Write(timer, "16\n");
  auto findings = Findings(MakeLatencyTimerCheck(system));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].status, DoctorStatus::kTodo);
  EXPECT_EQ(findings[0].found, device +
                                   " (FTDI 0403:6001): 16 ms: each short reply of the box may "
                                   "wait up to 16 ms in the adapter, which slows an upgrade");
  EXPECT_EQ(findings[0].todo,
            "install stbup's udev rule (/usr/lib/udev/rules.d/60-stbup-serial.rules, in the stbup "
            "package) and plug the adapter in again, which sets 1 ms; until then: echo 1 | sudo "
            "tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer");

  InstallStbupRule();
  findings = Findings(MakeLatencyTimerCheck(system));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].todo,
            "plug the adapter in again: stbup's udev rule sets 1 ms when it appears");

  fs::remove(timer);  // not an FTDI adapter
  findings = Findings(MakeLatencyTimerCheck(system));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].status, DoctorStatus::kNote);
  EXPECT_EQ(findings[0].found, "no FTDI adapter found (only FTDI adapters have a latency timer)");
}

TEST_F(DoctorTest, RecordsFileMustBeWritableWithItsFolder) {
  const std::string folder = (root / "records").string();
  const std::string give = "give another file with --records FILE or STBUP_RECORDS=FILE";
  auto look = [&](const std::string& path) {
    const auto findings = Findings(MakeRecordsFileCheck(system, path));
    EXPECT_EQ(findings.size(), 1u);
    return findings.at(0);
  };

  auto finding = look(records);
  EXPECT_EQ(finding.status, DoctorStatus::kOk);
  EXPECT_EQ(finding.found, "records go to " + records + " (made at the first record)");

  const std::string nested = folder + "/a/b/records.sqlite3";
  EXPECT_EQ(look(nested).status, DoctorStatus::kOk);

  Write(records, std::string("SQLite format 3\0", 16));
  ::chmod(records.c_str(), 0666);
  finding = look(records);
  EXPECT_EQ(finding.status, DoctorStatus::kOk);
  EXPECT_EQ(finding.found, "records go to " + records);

  ::chmod(records.c_str(), 0644);
  finding = look(records);
  EXPECT_EQ(finding.status, DoctorStatus::kTodo);
  EXPECT_EQ(finding.found, records + " (-rw-r--r-- portowner " +
                               system.accounts.GroupName(::getgid()) +
                               ") cannot be written by alice");
  EXPECT_EQ(finding.todo, "make it writable for alice, or " + give);

  ::chmod(records.c_str(), 0666);
  ::chmod(folder.c_str(), 0755);
  finding = look(records);
  EXPECT_EQ(finding.status, DoctorStatus::kTodo);
  EXPECT_EQ(finding.found, "records go to " + records + ", but its folder " + folder +
                               " (drwxr-xr-x portowner " + system.accounts.GroupName(::getgid()) +
                               ") cannot be written by alice, and the database keeps its "
                               "journal there");
  EXPECT_EQ(look(nested).status, DoctorStatus::kTodo);
  ::chmod(folder.c_str(), 0777);

  Write(records, "name,verdict\n");
  finding = look(records);
  EXPECT_EQ(finding.status, DoctorStatus::kTodo);
  EXPECT_EQ(finding.found, records + " is not a records database");

  finding = look("");
  EXPECT_EQ(finding.status, DoctorStatus::kTodo);
  EXPECT_EQ(finding.found,
            "no records file: neither --records, nor STBUP_RECORDS, nor a home folder");
}

TEST_F(DoctorTest, AllFineSaysNothingNeedsDoingAndExitsZero) {
  SetDialoutMembers("alice");
  Reload();
  system.who.groups = {port_gid};
  const auto [status, text] = Report();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(text, "ok    port access: " + Seen() + ": this login has the group dialout\n" +
                      "ok    port in use: no process of this user holds " + device + " open\n" +
                      "ok    ModemManager: not running\n"
                      "ok    brltty: no udev rule of brltty takes CH340 or CP210x adapters\n"
                      "ok    latency timer: " +
                      device + " (FTDI 0403:6001): 1 ms\n" + "ok    records: records go to " +
                      records + " (made at the first record)\n" + "Nothing needs doing.\n");
}

TEST_F(DoctorTest, EachThingToDoIsCountedAndTheStatusIsOne) {
  StartProcess(612, "ModemManager");
  const auto [status, text] = Report();
  EXPECT_EQ(status, kExitDoctorTodo);
  EXPECT_NE(text.find("TODO  port access: " + Seen() +
                      ": alice is not in the group dialout\n"
                      "      To do: sudo adduser alice dialout, then log out and in again\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(text.ends_with("\n2 things need doing.\n")) << text;
}

TEST_F(DoctorTest, JsonHasEveryFindingAndTheCount) {
  const auto [status, text] = Report(true);
  EXPECT_EQ(status, kExitDoctorTodo);
  const auto report = nlohmann::json::parse(text);
  ASSERT_EQ(report["findings"].size(), 6u);
  EXPECT_EQ(report["todo"], 1);
  EXPECT_EQ(report["findings"][0],
            (nlohmann::json{{"check", "port access"},
                            {"status", "todo"},
                            {"found", Seen() + ": alice is not in the group dialout"},
                            {"todo", "sudo adduser alice dialout, then log out and in again"}}));
  EXPECT_EQ(report["findings"][2]["check"], "ModemManager");
  EXPECT_EQ(report["findings"][2]["status"], "ok");
  EXPECT_EQ(report["findings"][4]["found"], device + " (FTDI 0403:6001): 1 ms");
}

// A check that cannot look does not hide the others.
TEST(DoctorReportTest, ACheckThatFailsIsANote) {
  struct Failing : DoctorCheck {
    std::string Name() const override { return "failing"; }
    std::vector<DoctorFinding> Run() const override { throw std::runtime_error("no /proc"); }
  };
  struct Fine : DoctorCheck {
    std::string Name() const override { return "fine"; }
    std::vector<DoctorFinding> Run() const override { return {{DoctorStatus::kOk, "fine", {}}}; }
  };
  DoctorChecks checks;
  checks.push_back(std::make_unique<Failing>());
  checks.push_back(std::make_unique<Fine>());
  std::ostringstream out;
  EXPECT_EQ(ReportDoctorChecks(checks, false, out), 0);
  EXPECT_EQ(out.str(),
            "note  failing: could not look: no /proc\n"
            "ok    fine: fine\n"
            "Nothing needs doing.\n");
}

TEST_F(DoctorTest, TheCommandReadsAStandInTreeWithRoot) {
  Write(root / "usr/lib/udev/rules.d/85-brltty.rules",
        "ENV{PRODUCT}==\"1a86/7523/*\", GOTO=\"brltty_usb_run\"\n");
  CommandRegistry registry("stbup");
  AddDoctorCommand(registry);
  std::ostringstream out, err;
  const int status = registry.Execute(
      {"doctor", "--root", root.string(), "--port", device, "--records", records}, out, err);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.str().find("TODO  brltty: installed, and its udev rule " + root.string() +
                           "/usr/lib/udev/rules.d/85-brltty.rules takes CH340 (1a86:7523) "
                           "adapters"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("ok    latency timer: " + device + " (FTDI 0403:6001): 1 ms\n"),
            std::string::npos);
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace stbup
