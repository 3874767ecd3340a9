// The window's opening through the real window, offscreen: the address found
// by the query (with a fake ifconfig first on PATH), the saved settings, and
// the automatic start of the fake server.
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/runtime.h"
#include "support/fake_record.h"
#include "support/settings_text.h"
#include "support/window_fixture.h"
#include "window/design_data.h"

namespace {

using namespace std::chrono_literals;

using testsupport::SettingsText;

// A Linux (net-tools) ifconfig: lines indented with blanks.
const char* const kLinuxIfconfig =
    "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n"
    "        inet 10.1.2.3  netmask 255.255.255.0  broadcast 10.1.2.255\n"
    "        inet6 fe80::a00:27ff:fe4e:66a1  prefixlen 64  scopeid 0x20<link>\n"
    "        ether 08:00:27:4e:66:a1  txqueuelen 1000  (Ethernet)\n"
    "\n"
    "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536\n"
    "        inet 127.0.0.1  netmask 255.0.0.0\n";

class OpeningTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    savedArguments_ = ProcessArguments();
    setenv("VELMOOR_RECORD", record_.c_str(), 1);
    // The shell commands run here, so whatever they might create stays in sight.
    oldCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(cwd_.path());
  }

  void TearDown() override {
    // Every fake server the window started ends here, pass or fail.
    testsupport::KillRecorded(record_);
    unsetenv("VELMOOR_RECORD");
    std::filesystem::current_path(oldCwd_);
    SetProcessArguments(savedArguments_);
    WindowFixture::TearDown();
  }

  // Builds the window, replaces the address query with the command before
  // the opening runs it, and waits for the opening.
  MainWindow& OpenRunning(const std::string& query) {
    MainWindow& w = Open(false);
    w.Label1()->SetText(query);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return w.HasOpened(); }));
    testsupport::Pump(20ms);
    return w;
  }

  std::vector<testsupport::FakeRecord> Records() const { return testsupport::ReadFakeRecords(record_); }

  // Waits long enough for a queued Start to have run and its server to have
  // written its record.
  void SettleStarts() { testsupport::Pump(400ms); }

  void ExpectNothingStarted(MainWindow& w) {
    SettleStarts();
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(w.PushButton1()->Caption(), "Start");
    EXPECT_FALSE(w.CheckBox1()->Value());
  }

  std::string Fakes() const { return testsupport::FakesDir().string(); }

  testsupport::TempDir cwd_;
  testsupport::TempDir share_;
  std::filesystem::path record_ = cwd_.path() / "velmoor.record";
  std::filesystem::path oldCwd_;
  std::vector<std::string> savedArguments_;
};

// --- The address ------------------------------------------------------------

struct AddressCase {
  const char* name;
  std::string ifconfig;  // what the fake ifconfig prints
  std::string query;     // a command in place of the design's query; empty: keep it
  std::string address;
};
void PrintTo(const AddressCase& c, std::ostream* os) { *os << c.name; }

class OpeningAddress : public OpeningTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(OpeningAddress, ShowsTheAddressFound) {
  const AddressCase& c = GetParam();
  SetIfconfigOutput(c.ifconfig);
  testing::internal::CaptureStderr();
  MainWindow& w = c.query.empty() ? Open() : OpenRunning(c.query);
  const std::string errors = testing::internal::GetCapturedStderr();

  EXPECT_EQ(w.IPAddress()->Text(), c.address);
  EXPECT_EQ(Widget<QLineEdit>("IPAddress")->text().toStdString(), c.address);
  // The opening ran to its end.
  EXPECT_EQ(w.Label1()->Text(), "");
  EXPECT_EQ(errors.find("orvande: unhandled"), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, OpeningAddress,
    ::testing::Values(AddressCase{"TabIndented",
                                  "lo0: flags=8049<UP,LOOPBACK,RUNNING,MULTICAST> mtu 16384\n"
                                  "\tinet 127.0.0.1 netmask 0xff000000\n"
                                  "en0: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500\n"
                                  "\tether 3c:22:fb:12:34:56\n"
                                  "\tinet 192.168.1.20 netmask 0xffffff00 broadcast 192.168.1.255\n",
                                  "", "192.168.1.20"},
                      AddressCase{"BlankIndented", kLinuxIfconfig, "", "10.1.2.3"},
                      AddressCase{"NoOutput", "", "", "127.0.0.1"},
                      AddressCase{"OnlyLoopbackAndLinkLocal",
                                  "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536\n"
                                  "        inet 127.0.0.1  netmask 255.0.0.0\n"
                                  "eth1: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n"
                                  "        inet 169.254.7.9  netmask 255.255.0.0\n",
                                  "", "127.0.0.1"},
                      AddressCase{
                          "SeveralInterfacesFirstWins",
                          "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n"
                          "        inet 10.0.0.5  netmask 255.255.255.0  broadcast 10.0.0.255\n"
                          "wlan0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n"
                          "        inet 192.168.0.9  netmask 255.255.255.0  broadcast 192.168.0.255\n",
                          "", "10.0.0.5"},
                      // Not empty, so no fallback: field 1 is the empty text.
                      AddressCase{"OneBlank", "", "printf ' '", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// An ifconfig that goes on writing after its first address: the query takes
// the address as it comes instead of waiting for an end that never comes
// (and holding all of it meanwhile).
TEST_F(OpeningTest, AddressOfAToolThatWritesWithoutEndIsTakenAsItComes) {
  if (!std::filesystem::exists("/usr/bin/yes") && !std::filesystem::exists("/bin/yes"))
    GTEST_SKIP() << "no yes(1) on this machine";
  testsupport::WriteFile(bin_->path() / "ifconfig",
                         "#!/bin/sh\necho '        inet 10.1.2.3  netmask 255.0.0.0'\n"
                         "exec yes '        inet6 fe80::1  prefixlen 64'\n",
                         true);
  MainWindow& w = Open();
  EXPECT_EQ(w.IPAddress()->Text(), "10.1.2.3");
  EXPECT_EQ(w.Label1()->Text(), "");
}

TEST_F(OpeningTest, OutputWithoutBlankEndsTheOpeningReported) {
  // Settings that would start the server, to show that they are never read.
  WriteSettings(SettingsText("10.9.8.7", "4000", Fakes(), share_.str(), "Yes"));
  SetProcessArguments({"orvande", "-automount"});
  testing::internal::CaptureStderr();
  MainWindow& w = OpenRunning("printf nospace");
  const std::string errors = testing::internal::GetCapturedStderr();

  EXPECT_NE(errors.find("orvande: unhandled OutOfBoundsException"), std::string::npos) << errors;
  EXPECT_EQ(w.Label1()->Text(), "printf nospace");
  EXPECT_EQ(w.IPAddress()->Text(), "");
  EXPECT_EQ(w.Port()->Text(), "38008");
  ExpectNothingStarted(w);
}

// --- The saved settings -----------------------------------------------------

class OpeningSavedAddress : public OpeningTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(OpeningSavedAddress, ReplacesTheAddressFound) {
  SetIfconfigOutput(kLinuxIfconfig);
  WriteSettings(SettingsText(GetParam(), "4000", "/opt/velmoor", "/srv/My\\ Games", "No"));
  MainWindow& w = Open();
  EXPECT_EQ(w.IPAddress()->Text(), GetParam());
  EXPECT_EQ(w.Port()->Text(), "4000");
  EXPECT_EQ(w.velmoor()->Text(), "/opt/velmoor");
  EXPECT_EQ(w.ShareDir()->Text(), "/srv/My\\ Games");
  EXPECT_EQ(w.Label1()->Text(), "");
  ExpectNothingStarted(w);
}

INSTANTIATE_TEST_SUITE_P(Saved, OpeningSavedAddress, ::testing::Values("10.9.8.7", ""), [](const auto& info) {
  return info.param.empty() ? std::string("Empty") : "Address";
});

TEST_F(OpeningTest, FirstLaunchWithoutSettingsFolderOpensQuietly) {
  ASSERT_FALSE(std::filesystem::exists(SettingsFolder()));
  SetIfconfigOutput(kLinuxIfconfig);
  testing::internal::CaptureStderr();
  MainWindow& w = Open();
  SettleStarts();
  const std::string errors = testing::internal::GetCapturedStderr();

  EXPECT_EQ(errors, "");
  EXPECT_EQ(w.IPAddress()->Text(), "10.1.2.3");
  EXPECT_EQ(w.Port()->Text(), "38008");
  EXPECT_EQ(w.ShareDir()->Text(), "/Games");
  EXPECT_EQ(w.Label1()->Text(), "");
  EXPECT_EQ(Widget<QLabel>("Label1")->text().toStdString(), "");
  ExpectNothingStarted(w);
  // Opening saves nothing.
  EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST_F(OpeningTest, MalformedSettingsEndTheOpeningReported) {
  const std::string broken = "{\"ipaddress\":\"10.9.8.7\",\"port\":\"4000\",\"Automount\":\"Yes\"";
  WriteSettings(broken);
  SetIfconfigOutput(kLinuxIfconfig);
  SetProcessArguments({"orvande", "-automount"});
  testing::internal::CaptureStderr();
  MainWindow& w = Open();
  SettleStarts();
  const std::string errors = testing::internal::GetCapturedStderr();

  EXPECT_NE(errors.find("orvande: unhandled JSONException"), std::string::npos) << errors;
  EXPECT_EQ(w.Label1()->Text(), design::kAddressQuery);
  EXPECT_EQ(w.IPAddress()->Text(), "10.1.2.3");
  EXPECT_EQ(w.Port()->Text(), "38008");
  ExpectNothingStarted(w);
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), broken);
}

// --- The automatic start ----------------------------------------------------

struct AutoStartCase {
  const char* name;
  std::string savedAutomount;
  std::vector<std::string> arguments;
  bool starts;
};
void PrintTo(const AutoStartCase& c, std::ostream* os) { *os << c.name; }

class OpeningAutoStart : public OpeningTest, public ::testing::WithParamInterface<AutoStartCase> {};

TEST_P(OpeningAutoStart, StartsTheServerOnceWhenAsked) {
  const AutoStartCase& c = GetParam();
  const std::string saved = SettingsText("10.9.8.7", "4000", Fakes(), share_.str(), c.savedAutomount);
  WriteSettings(saved);
  SetProcessArguments(c.arguments);
  MainWindow& w = Open();

  if (!c.starts) {
    ExpectNothingStarted(w);
    EXPECT_EQ(testsupport::ReadFile(SettingsFile()), saved);
    return;
  }
  ASSERT_TRUE(testsupport::PumpUntil([&] { return !Records().empty(); }));
  SettleStarts();
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].args, (std::vector<std::string>{"-p", "4000", share_.str()}));
  EXPECT_EQ(w.PushButton1()->Caption(), "Stop");
  EXPECT_TRUE(w.CheckBox1()->Value());
  // The box was ticked before the pushed Start saved, so the next launch
  // starts the server by itself again.
  EXPECT_NE(testsupport::ReadFile(SettingsFile()).find("\"Automount\":\"Yes\""), std::string::npos)
      << testsupport::ReadFile(SettingsFile());
}

// The pushed Start runs as soon as the opening is done: it waits for no
// paint of the window, and the box is ticked by then all the same.
TEST_F(OpeningTest, PushedStartRunsBeforeTheWindowIsFirstPainted) {
  WriteSettings(SettingsText("10.9.8.7", "4000", Fakes(), share_.str(), "Yes"));
  SetProcessArguments({"orvande"});
  // Counts the paints of every widget while it is installed.
  struct PaintCounter : QObject {
    int paints = 0;
    PaintCounter() { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  MainWindow& w = Open(false);
  int paintsAtStart = -1;
  bool tickedAtStart = false;
  w.PushButton1()->AddActionHandler({[&](std::shared_ptr<PushButton>) {
                                       paintsAtStart = counter.paints;
                                       tickedAtStart = w.CheckBox1()->Value();
                                     },
                                     "( PushButton )"});
  ASSERT_TRUE(testsupport::PumpUntil([&] { return paintsAtStart >= 0 && counter.paints > 0; }));
  EXPECT_EQ(paintsAtStart, 0);
  EXPECT_TRUE(tickedAtStart);
  EXPECT_EQ(w.PushButton1()->Caption(), "Stop");
  // The server it started has recorded itself, so the tear-down ends it.
  ASSERT_TRUE(testsupport::PumpUntil([&] { return !Records().empty(); }));
  SettleStarts();
}

// A push from outside any event handler waits for the event loop.
TEST_F(OpeningTest, PushOutsideAHandlerWaitsForTheLoop) {
  MainWindow& w = Open();
  int starts = 0;
  w.PushButton1()->AddActionHandler({[&](std::shared_ptr<PushButton>) { ++starts; }, "( PushButton )"});
  w.velmoor()->SetText(share_.str());  // no server there: the start fails quietly in the shell
  w.PushButton1()->Push();
  EXPECT_EQ(starts, 0);
  ASSERT_TRUE(testsupport::PumpUntil([&] { return starts == 1; }));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, OpeningAutoStart,
    ::testing::Values(AutoStartCase{"SavedYes", "Yes", {"orvande"}, true},
                      AutoStartCase{"CommandLine", "No", {"orvande", "-automount"}, true},
                      AutoStartCase{
                          "CommandLineOverEmptySetting", "", {"/usr/bin/orvande", "-automount"}, true},
                      AutoStartCase{"SavedYesAndCommandLine", "Yes", {"orvande", "-automount"}, true},
                      AutoStartCase{"DoubleHyphen", "No", {"orvande", "--automount"}, true},
                      AutoStartCase{"SavedNo", "No", {"orvande"}, false},
                      AutoStartCase{"SavedLowerCaseYes", "yes", {"orvande"}, false},
                      AutoStartCase{"TrailingBlank", "No", {"orvande", "-automount "}, false},
                      AutoStartCase{"ArgumentAfter", "No", {"orvande", "-automount", "x"}, false},
                      AutoStartCase{"CommandLineShorterThanTheWord", "No", {"-auto"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
