// The settings file alone, with no window: the exact text a save writes, the
// order in which a load hands its values over, what a failed read keeps, and
// what Reset removes.
#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/exceptions.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using Taken = std::vector<std::pair<SettingsMember, std::string>>;

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_CONFIG_HOME", config_.str().c_str(), 1); }

  fs::path Folder() const { return config_.path() / "ORVANDE"; }
  fs::path File() const { return Folder() / "ORVANDE.json"; }

  void Plant(const std::string& text) {
    fs::create_directories(Folder());
    testsupport::WriteFile(File(), text);
  }

  Taken Load(SettingsFile& file) {
    Taken taken;
    file.Load([&](SettingsMember m, const std::string& v) { taken.emplace_back(m, v); });
    return taken;
  }

  testsupport::TempDir config_{"orvande-settings"};
};

TEST_F(SettingsFileTest, SaveWritesOneLineInTheSavesOrderAndLoadReadsItBackInTheLoadsOrder) {
  SettingsFile file;
  file.Save({"10.0.0.2", "9000", "/opt/my\\ server", "/srv/a\"b", "Yes"});
  EXPECT_EQ(testsupport::ReadFile(File()),
            R"({"ipaddress":"10.0.0.2","port":"9000","velmoorFldr":"\/opt\/my\\ server",)"
            R"("ShareDir":"\/srv\/a\"b","Automount":"Yes"})");

  const Taken expected = {{SettingsMember::ipaddress, "10.0.0.2"},
                          {SettingsMember::port, "9000"},
                          {SettingsMember::ShareDir, "/srv/a\"b"},
                          {SettingsMember::velmoorFldr, "/opt/my\\ server"},
                          {SettingsMember::Automount, "Yes"}};
  EXPECT_EQ(Load(file), expected);
}

TEST_F(SettingsFileTest, AMissingMemberRaisesAfterTheValuesBeforeItWereHandedOver) {
  Plant(R"({"port":"1","ipaddress":"10.0.0.9","velmoorFldr":"\/v","Automount":"No"})");
  SettingsFile file;
  Taken taken;
  try {
    file.Load([&](SettingsMember m, const std::string& v) { taken.emplace_back(m, v); });
    FAIL() << "a file without ShareDir loaded";
  } catch (const KeyNotFoundException& e) {
    EXPECT_NE(e.Context.find(File().string()), std::string::npos) << e.Context;
  }
  const Taken expected = {{SettingsMember::ipaddress, "10.0.0.9"}, {SettingsMember::port, "1"}};
  EXPECT_EQ(taken, expected);
}

TEST_F(SettingsFileTest, NoFolderAndNoFileAreNoSettings) {
  SettingsFile file;
  EXPECT_TRUE(Load(file).empty());
  fs::create_directories(Folder());
  EXPECT_TRUE(Load(file).empty());
  // Nothing was unreadable, so the next save sets nothing aside.
  file.Save({"", "38008", "/Games", "/Games", "No"});
  EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), fs::directory_iterator()), 1);
}

TEST_F(SettingsFileTest, AFileThatDoesNotParseRaisesBeforeAnyValueAndIsSetAsideAtTheNextSave) {
  const std::string bad = R"({"ipaddress":"10.0.0.9" "port":"1"})";
  Plant(bad);
  SettingsFile file;
  Taken taken;
  EXPECT_THROW(file.Load([&](SettingsMember m, const std::string& v) { taken.emplace_back(m, v); }),
               JSONException);
  EXPECT_TRUE(taken.empty());

  file.Save({"", "38008", "/Games", "/Games", "No"});
  std::vector<std::string> aside;
  for (const auto& entry : fs::directory_iterator(Folder())) {
    if (entry.path() != File()) aside.push_back(testsupport::ReadFile(entry.path()));
  }
  EXPECT_EQ(aside, std::vector<std::string>{bad});
  EXPECT_EQ(Load(file).size(), 5u);
}

TEST_F(SettingsFileTest, ResetRemovesTheFileAndTheEmptiedFolderAndIsQuietWithNothingToRemove) {
  SettingsFile file;
  EXPECT_NO_THROW(file.Reset());
  file.Save({"", "38008", "/Games", "/Games", "No"});
  file.Reset();
  EXPECT_FALSE(fs::exists(Folder()));
  EXPECT_NO_THROW(file.Reset());

  // Whatever else the folder holds stays, and so does the folder.
  file.Save({"", "38008", "/Games", "/Games", "No"});
  testsupport::WriteFile(Folder() / "ORVANDE.json.original", "mine");
  file.Reset();
  EXPECT_FALSE(fs::exists(File()));
  EXPECT_EQ(testsupport::ReadFile(Folder() / "ORVANDE.json.original"), "mine");
}

}  // namespace
