// xrreport --capture on a fake system tree whose /dev/modem leads to a scripted modem, then
// --machine on what it wrote: the same report. And what a capture never does: let its replay
// open the replaying machine's devices, or write through a link put into its directory.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

#include "platform/Json.h"
#include "platform/PlatformRoot.h"
#include "profile/MachineCapture.h"
#include "profile/ModemScript.h"
#include "profile/PseudoTerminal.h"
#include "profile/ScriptedModem.h"
#include "support/Descriptors.h"
#include "support/FakeSystem.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

namespace xr {
namespace {
namespace fs = std::filesystem;

const std::string kXrreport = XR_BINARY_DIR "/bin/xrreport";

std::unique_ptr<ScriptedModem> startModem(
    const char* json = R"({"Responses": {"ATI4": "Acme Data Modem", "ATI1": "ACME 2.1", "ATI5": "52"}})") {
  std::string error;
  auto script = ModemScript::fromValue(parseJson(json).value, &error);
  EXPECT_TRUE(script) << error;
  if (!script) return nullptr;
  auto modem = ScriptedModem::start(std::move(*script), &error);
  EXPECT_TRUE(modem) << error;
  return modem;
}

// An internal modem on a vantik serial channel's port, reached through /dev/modem.
void machineWithModem(const test::FakeSystem& sys, const std::string& modemPath) {
  const std::string dev = "/sys/devices/platform/ch-b";
  sys.device(dev, "platform", {}, "vantik-serial");
  sys.write("/sys/firmware/devicetree/base/ch-b/compatible", std::string("vantik\0modem\0", 13));
  sys.link(dev + "/of_node", "/sys/firmware/devicetree/base/ch-b");
  sys.tty(dev + "/tty/ttyS2", dev, 4, 66, {{"type", "4"}});
  sys.rawLink("/dev/ttyS2", modemPath);  // the node a report opens is the scripted modem
  sys.rawLink("/dev/modem", "ttyS2");
}

TEST(CaptureReplay, ReplayedProfileGivesTheSameReport) {
  test::FakeSystem sys;
  auto modem = startModem();
  ASSERT_TRUE(modem);
  machineWithModem(sys, modem->devicePath());
  // Two UARTs whose modules declare versions: the ports plug-in asks for both in one listing.
  for (const auto& [n, module, version] : {std::tuple{0u, "acme_uart", "1.2"}, {1u, "zeta_uart", "3.4"}}) {
    const std::string dev = "/sys/devices/platform/u" + std::to_string(n);
    sys.device(dev, "platform", {}, module, module);
    sys.attribute(std::string("/sys/module/") + module + "/version", version);
    sys.tty(dev + "/tty/ttyS" + std::to_string(n), dev, 4, 64 + n, {{"type", "4"}});
  }
  test::TempDirectory out;
  const std::string profile = out.file("machine");
  const std::map<std::string, std::string> env{{"XRREPORT_SYSTEM_ROOT", sys.root()}};

  test::ProgramResult live = test::runProgram(kXrreport, {"--format", "json", "--capture", profile}, env);
  ASSERT_EQ(live.status, 0) << live.err;
  for (const char* shown : {"ACME 2.1", "\"1.2\"", "\"3.4\""}) EXPECT_NE(live.out.find(shown), std::string::npos) << shown;

  test::ProgramResult replay = test::runProgram(kXrreport, {"--format", "json", "--machine", profile});
  ASSERT_EQ(replay.status, 0) << replay.err;
  EXPECT_EQ(replay.out, live.out);

  // A second capture into the same directory refuses and leaves it as it was.
  auto before = fs::last_write_time(profile + "/registry.json");
  test::ProgramResult again = test::runProgram(kXrreport, {"--capture", profile}, env);
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(std::count(again.err.begin(), again.err.end(), '\n'), 1) << again.err;
  EXPECT_NE(again.err.find("not empty"), std::string::npos) << again.err;
  EXPECT_EQ(fs::last_write_time(profile + "/registry.json"), before);
}

// The ports' users go with the machine: a holder, a process whose descriptors could not be
// read and a lock file's live owner, each replayed; what the report does not show is left out.
TEST(CaptureReplay, PortUsersAreCapturedAndNothingElse) {
  test::FakeSystem sys;
  sys.nothingToFind();
  for (const auto& [pid, name, fd] : {std::tuple{40, "pppd", "/dev/ttyS0"}, {43, "bash", "/dev/pts/1"}}) {
    sys.write("/proc/" + std::to_string(pid) + "/comm", std::string(name) + "\n");
    sys.rawLink("/proc/" + std::to_string(pid) + "/fd/3", fd);
  }
  // Two whose fd/ cannot be read, as a live one that cannot be read replays; one owns the lock.
  for (const auto& [pid, name] : {std::pair{41, "secret"}, {44, "minicom"}}) {
    sys.write("/proc/" + std::to_string(pid) + "/comm", std::string(name) + "\n");
    sys.write("/proc/" + std::to_string(pid) + "/fd", "");
  }
  sys.write("/run/lock/LCK..ttyS0", "        44\n");
  test::TempDirectory out;
  const std::string profile = out.file("machine");
  test::ProgramResult live =
      test::runProgram(kXrreport, {"--format", "json", "--capture", profile}, {{"XRREPORT_SYSTEM_ROOT", sys.root()}});
  ASSERT_EQ(live.status, 0) << live.err;
  for (const char* shown : {"pppd (pid 40)", "minicom (pid 44)", "\"xrport_uninspected\": 2"})
    EXPECT_NE(live.out.find(shown), std::string::npos) << shown << "\n" << live.out;

  test::ProgramResult replay = test::runProgram(kXrreport, {"--format", "json", "--machine", profile});
  ASSERT_EQ(replay.status, 0) << replay.err;
  EXPECT_EQ(replay.out, live.out);
  for (const char* left : {"/root/proc/43", "/root/proc/41/comm"})
    EXPECT_FALSE(fs::exists(profile + left)) << left;
}

// Asked with --probe, a USB modem's answers go with the machine, played on that modem's port.
TEST(CaptureReplay, ProbedUsbModemReplaysOnItsPort) {
  test::FakeSystem sys;
  sys.usbModem();
  auto modem = startModem(R"({"Responses": {"AT+GMI": "Tarvo", "AT+GMM": "TM-56", "AT+GMR": "2.03", "AT+GCAP": "+MS"}})");
  ASSERT_TRUE(modem);
  sys.rawLink("/dev/ttyACM0", modem->devicePath());
  test::TempDirectory out;
  const std::string profile = out.file("machine");
  test::ProgramResult live = test::runProgram(kXrreport, {"--format", "json", "--probe", "--capture", profile},
                                              {{"XRREPORT_SYSTEM_ROOT", sys.root()}});
  ASSERT_EQ(live.status, 0) << live.err;
  EXPECT_NE(live.out.find("TM-56"), std::string::npos) << live.out;
  modem.reset();  // the replay must not reach it, nor this machine's node
  fs::remove(sys.root() + "/dev/ttyACM0");

  test::ProgramResult replay = test::runProgram(kXrreport, {"--format", "json", "--probe", "--machine", profile});
  ASSERT_EQ(replay.status, 0) << replay.err;
  EXPECT_EQ(replay.out, live.out);
}

// A capture made without --probe plays no USB modem. Replayed with --probe where this machine
// has a device at the modem's path, the port is not opened: nothing reaches that device.
TEST(CaptureReplay, UnplayedPortIsNotOpenedOnReplay) {
  test::FakeSystem sys;
  sys.usbModem();
  test::TempDirectory out;
  const std::string profile = out.file("machine");
  test::ProgramResult live =
      test::runProgram(kXrreport, {"--format", "json", "--capture", profile}, {{"XRREPORT_SYSTEM_ROOT", sys.root()}});
  ASSERT_EQ(live.status, 0) << live.err;
  auto device = PseudoTerminal::open();  // what this machine has at that path
  ASSERT_TRUE(device);
  sys.rawLink("/dev/ttyACM0", device->slavePath());

  test::ProgramResult replay = test::runProgram(kXrreport, {"--format", "json", "--probe", "--machine", profile});
  ASSERT_EQ(replay.status, 0) << replay.err;
  EXPECT_NE(replay.out.find("\"not asked: the port could not be opened\""), std::string::npos) << replay.out;
  char byte;
  EXPECT_EQ(::read(device->masterDescriptor(), &byte, 1), -1) << "the replay wrote to this machine's device";
}

// The capture's directory may be another user's, who can add to it while the report runs.
// A link put where a file or a directory of the profile goes is never written through: the
// capture fails and what the link leads to stays as it was. Written or not, the capture holds
// no descriptor once it has finished.
TEST(CaptureReplay, WritesNothingThroughALinkPutInItsDirectory) {
  for (const std::string planted : {"", "registry.json", "root"}) {
    test::TempDirectory dir;
    const std::string elsewhere = dir.makeDirectory("elsewhere");
    dir.write("elsewhere/registry.json", "kept");
    dir.write("system/var/db/modem.prefs", "{}");  // a file the capture copies under root/
    ScopedPlatformRoot system(dir.file("system"));
    const std::set<int> before = test::openDescriptors();
    std::string error;
    auto capture = MachineCapture::begin(dir.file("m"), nullptr, &error);
    ASSERT_TRUE(capture) << error;
    if (!planted.empty())
      fs::create_symlink(planted == "root" ? elsewhere : elsewhere + "/registry.json", dir.file("m/" + planted));
    EXPECT_EQ(capture->finish(&error), planted.empty()) << planted << ": " << error;
    EXPECT_EQ(test::openDescriptors(), before) << planted;
    if (planted.empty()) {
      EXPECT_EQ(test::readFile(dir.file("m/root/var/db/modem.prefs")), "{}");
      continue;
    }
    EXPECT_NE(error.find(dir.file("m/" + planted)), std::string::npos) << error;
    EXPECT_EQ(test::readFile(elsewhere + "/registry.json"), "kept");
    EXPECT_FALSE(fs::exists(elsewhere + "/var")) << planted;
    // What the capture wrote before it failed goes again; what it did not write stays.
    std::set<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(dir.file("m"))) left.insert(entry.path().string());
    EXPECT_EQ(left, std::set<std::string>{dir.file("m/" + planted)});
  }
}

// A capture that ends without its profile (its report interrupted by a signal, or not printed)
// leaves no directory behind, which would replay as a machine with nothing in it; a directory
// that was there, empty, stays empty.
TEST(CaptureReplay, AnUnfinishedCaptureLeavesNoDirectoryBehind) {
  test::FakeSystem sys;
  auto line = PseudoTerminal::open();  // the modem: it never answers
  ASSERT_TRUE(line);
  machineWithModem(sys, line->slavePath());
  const std::map<std::string, std::string> env{{"XRREPORT_SYSTEM_ROOT", sys.root()}};
  test::TempDirectory out;
  const std::string made = out.file("made"), empty = out.makeDirectory("empty");

  for (const std::string& profile : {made, empty}) {
    SCOPED_TRACE(profile);
    auto report = test::startProgram(kXrreport, {"--capture", profile}, env);
    ASSERT_TRUE(report);
    const std::string written = test::readUntil(line->masterDescriptor(), [](const std::string& got) {
      return got.find("AT") != std::string::npos;
    });
    ASSERT_NE(written.find("AT"), std::string::npos) << "the report never reached the modem";
    ASSERT_EQ(::kill(report->pid(), SIGINT), 0);
    const test::ProgramResult ended = test::finishProgram(*report);
    EXPECT_TRUE(!ended.exited && ended.status == SIGINT) << ended.status << " " << ended.err;
    EXPECT_EQ(fs::exists(profile), profile == empty);
  }

  test::FakeSystem quick;
  quick.nothingToFind();
  for (const std::string& profile : {made, empty}) {
    SCOPED_TRACE(profile);
    const test::ProgramResult r = test::runProgram("/bin/sh", {"-c", "exec \"$0\" --capture \"$1\" >&-", kXrreport, profile},
                                                   {{"XRREPORT_SYSTEM_ROOT", quick.root()}});
    EXPECT_TRUE(r.exited && r.status == 1) << r.status << " " << r.err;
    EXPECT_EQ(r.err, "xrreport: standard output cannot be written\n");
    EXPECT_EQ(fs::exists(profile), profile == empty);
    EXPECT_TRUE(profile != empty || fs::is_empty(profile));
  }

  // Never finished in this process either: what it made goes with it.
  std::string error;
  auto capture = MachineCapture::begin(made, nullptr, &error);
  ASSERT_TRUE(capture) << error;
  capture.reset();
  EXPECT_FALSE(fs::exists(made));
}

// With nothing to find, the report is the empty machine's but for the ports section: the one
// UART, no processes, since the fake tree has none, and the lock file in its /run/lock.
TEST(CaptureReplay, NothingToFindReportsLikeTheEmptyMachine) {
  test::FakeSystem sys;
  sys.nothingToFind();
  sys.write("/run/lock/LCK..ttyS0", "junk\n");
  test::ProgramResult live =
      test::runProgram(kXrreport, {"--format", "json"}, {{"XRREPORT_SYSTEM_ROOT", sys.root()}});
  test::ProgramResult empty = test::runProgram(kXrreport, {"--format", "json", "--machine", XR_SOURCE_DIR "/examples/empty"});
  ASSERT_EQ(live.status, 0) << live.err;
  const Value expected = parseJson(empty.out).value;
  ASSERT_TRUE(expected.array() && expected.array()->size() == 2) << empty.out;
  expected.array()->back() = parseJson(R"j({"_items": [{"_name": "ttyS0",
      "xrport_device": "/dev/ttyS0", "xrport_kind": "Built-in UART", "xrport_uarttype": "16550A",
      "xrport_driver": "serial", "xrport_lockedby": "unknown (the lock file names no process)"}]})j").value;
  EXPECT_EQ(toJson(parseJson(live.out).value), toJson(expected));
}

}  // namespace
}  // namespace xr
