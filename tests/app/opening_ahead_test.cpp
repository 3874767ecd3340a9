// The window's opening with the address query started ahead, as the program
// starts it: the opening takes that run's output instead of running the
// query again, unless Label1 was given another text first.
#include <QLineEdit>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/shell.h"
#include "support/fake_record.h"
#include "support/open_descriptors.h"
#include "support/window_fixture.h"
#include "window/design_data.h"

namespace {

using namespace std::chrono_literals;

class OpeningAheadTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // An ifconfig that notes each run.
    testsupport::WriteFile(bin_->path() / "ifconfig",
                           "#!/bin/sh\necho ran >> '" + Log().string() +
                               "'\n"
                               "echo '        inet 10.4.4.4  netmask 255.255.255.0'\n",
                           true);
  }
  void TearDown() override {
    Shell::DropStartedAhead();
    WindowFixture::TearDown();
  }

  std::filesystem::path Log() const { return bin_->path() / "ifconfig.ran"; }
  int Runs() const {
    std::ifstream in(Log());
    int n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
  }
  std::string Address() { return Widget<QLineEdit>("IPAddress")->text().toStdString(); }
};

struct AheadOpeningCase {
  const char* name;
  const char* label1;  // nullptr: the design's query stays
  std::string address;
  bool queryTaken;  // else it may have been ended before its ifconfig ran
};

void PrintTo(const AheadOpeningCase& c, std::ostream* os) { *os << c.name; }

class OpeningAhead : public OpeningAheadTest, public testing::WithParamInterface<AheadOpeningCase> {};

TEST_P(OpeningAhead, RunsTheQueryOnceAndShowsWhatTheOpeningsOwnTextGives) {
  const AheadOpeningCase& c = GetParam();
  const auto before = OpenDescriptors();
  Shell::StartAhead(design::kAddressQuery);
  MainWindow& w = Open(false);
  if (c.label1) w.Label1()->SetText(c.label1);
  ASSERT_TRUE(testsupport::PumpUntil([&] { return w.HasOpened(); }));
  testsupport::Pump(20ms);

  EXPECT_EQ(Address(), c.address);
  // The query ran once when it was taken; a changed text ran instead of it
  // and the opening ran no ifconfig of its own.
  if (c.queryTaken) {
    EXPECT_EQ(Runs(), 1);
  } else {
    testsupport::Pump(100ms);
    EXPECT_LE(Runs(), 1);
  }
  EXPECT_TRUE(testsupport::OwnZombies().empty());
  std::map<int, std::string> left;
  for (const auto& [fd, target] : OpenDescriptors()) {
    if (!before.count(fd) && (target.rfind("pipe:", 0) == 0 || target.find("pidfd") != std::string::npos)) {
      left[fd] = target;
    }
  }
  EXPECT_TRUE(left.empty()) << left.size() << " descriptors left, the first " << left.begin()->second;
}

INSTANTIATE_TEST_SUITE_P(Opening, OpeningAhead,
                         testing::Values(AheadOpeningCase{"DesignQueryTakesTheRunStartedAhead", nullptr,
                                                          "10.4.4.4", true},
                                         AheadOpeningCase{"ChangedLabel1RunsItsOwnText",
                                                          "echo 'inet 10.7.7.7 x'", "10.7.7.7", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
