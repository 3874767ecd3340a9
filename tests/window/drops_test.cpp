// Files and folders dropped on the real window, sent as Qt drop events: which
// control takes the path and how it is written, and that a dropped name
// reaches the server as one literal argument when Start is clicked.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_record.h"
#include "support/window_fixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class DropsTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    setenv("VELMOOR_RECORD", record_.c_str(), 1);
    // The shell commands run here, so whatever they might create stays in sight.
    oldCwd_ = fs::current_path();
    fs::current_path(cwd_.path());
  }

  void TearDown() override {
    // Every fake server the window started ends here, pass or fail.
    testsupport::KillRecorded(record_);
    unsetenv("VELMOOR_RECORD");
    fs::current_path(oldCwd_);
    WindowFixture::TearDown();
  }

  // Delivers a drag that enters the window and is dropped on it; gives
  // whether the window accepted the drag as it entered.
  bool Drop(const QMimeData& mime) {
    QWidget* top = TopLevel();
    EXPECT_NE(top, nullptr);
    if (!top) return false;
    const QPoint at(150, 100);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(top, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(top, &drop);
    testsupport::Pump(10ms);
    return enter.isAccepted();
  }

  static QUrl FileUrl(const fs::path& p) { return QUrl::fromLocalFile(QString::fromStdString(p.string())); }

  std::string ShownShareDir() { return Widget<QLabel>("ShareDir")->text().toStdString(); }
  std::string ShownVelmoor() { return Widget<QLineEdit>("velmoor")->text().toStdString(); }

  std::vector<testsupport::FakeRecord> Records() const { return testsupport::ReadFakeRecords(record_); }

  testsupport::TempDir cwd_;
  testsupport::TempDir root_;  // where the dropped items are made
  fs::path record_ = cwd_.path() / "velmoor.record";
  fs::path oldCwd_;
};

// --- Which control takes the path, and how ---------------------------------

enum class Kind { Folder, File, Absent, Url };

struct Item {
  std::string path;  // under the drop folder unless absolute; for Url the URL
  Kind kind;
};

struct DropCase {
  const char* name;
  std::vector<Item> items;     // none: a drop of plain text
  std::optional<std::string> share;    // "@" stands for the drop folder; none: unchanged
  std::optional<std::string> server;   // the same, for the server folder
};
void PrintTo(const DropCase& c, std::ostream* os) { *os << c.name; }

class DropTable : public DropsTest, public ::testing::WithParamInterface<DropCase> {
 protected:
  std::string Expand(const std::string& text) const {
    return text.rfind('@', 0) == 0 ? root_.str() + text.substr(1) : text;
  }
};

TEST_P(DropTable, SetsExactlyTheExpectedControl) {
  const DropCase& c = GetParam();
  QMimeData mime;
  QList<QUrl> urls;
  for (const Item& item : c.items) {
    if (item.kind == Kind::Url) {
      urls.push_back(QUrl(QString::fromStdString(item.path)));
      continue;
    }
    const fs::path p = item.path.rfind('/', 0) == 0 ? fs::path(item.path) : root_.path() / item.path;
    if (item.kind == Kind::Folder) fs::create_directories(p);
    if (item.kind == Kind::File) {
      fs::create_directories(p.parent_path());
      testsupport::WriteFile(p, "x");
    }
    urls.push_back(FileUrl(p));
  }
  if (urls.isEmpty()) {
    mime.setText(QString::fromStdString(root_.str() + "/share"));
  } else {
    mime.setUrls(urls);
  }

  MainWindow& w = Open();
  w.ShareDir()->SetText("/before/share");
  w.velmoor()->SetText("/before/server");
  const std::string share = c.share ? Expand(*c.share) : "/before/share";
  const std::string server = c.server ? Expand(*c.server) : "/before/server";

  // Again with the same item: the text is made afresh from its path.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    Drop(mime);
    EXPECT_EQ(w.ShareDir()->Text(), share);
    EXPECT_EQ(ShownShareDir(), share);
    EXPECT_EQ(w.velmoor()->Text(), server);
    EXPECT_EQ(ShownVelmoor(), server);
  }
  // A drop saves nothing and starts nothing.
  EXPECT_FALSE(fs::exists(SettingsFile()));
  EXPECT_EQ(MainWindowProbe::ThreadString(w), "");
  EXPECT_EQ(w.PushButton1()->Caption(), "Start");
  EXPECT_FALSE(fs::exists(cwd_.path() / "pwned"));
  EXPECT_FALSE(fs::exists(root_.path() / "pwned"));
}

INSTANTIATE_TEST_SUITE_P(
    Drops, DropTable,
    ::testing::Values(
        DropCase{"Folder", {{"share", Kind::Folder}}, "@/share", std::nullopt},
        DropCase{"File", {{"notes.txt", Kind::File}}, "@/notes.txt", std::nullopt},
        DropCase{"Blanks", {{"My Games/Disc  1", Kind::Folder}}, "@/My\\ Games/Disc\\ \\ 1", std::nullopt},
        DropCase{"Executable", {{"server bin/velmoor", Kind::File}}, std::nullopt, "@/server\\ bin"},
        DropCase{"ExecutableAtTheTop", {{"/velmoor", Kind::Absent}}, std::nullopt, ""},
        // The folder that holds the executable, not the one named after it.
        DropCase{"VelmoorTwice", {{"velmoor/bin/velmoor", Kind::File}}, std::nullopt, "@/velmoor/bin"},
        DropCase{"NameMerelyEndingInVelmoor", {{"myvelmoor", Kind::File}}, "@/myvelmoor", std::nullopt},
        DropCase{"VelmoorWithExtension", {{"velmoor.sh", Kind::File}}, "@/velmoor.sh", std::nullopt},
        // A folder's path carries no trailing slash, so one named like the
        // executable counts as the executable.
        DropCase{"FolderNamedVelmoor", {{"velmoor", Kind::Folder}}, std::nullopt, "@"},
        DropCase{"ItemThatDoesNotExist", {{"gone/away", Kind::Absent}}, "@/gone/away", std::nullopt},
        DropCase{"TwoItemsOnlyTheFirstCounts",
                 {{"first", Kind::Folder}, {"second/velmoor", Kind::File}}, "@/first", std::nullopt},
        DropCase{"WebLinkBesideAFile",
                 {{"https://example.com/velmoor", Kind::Url}, {"local", Kind::Folder}}, "@/local", std::nullopt},
        DropCase{"ShellCode", {{"a$(touch pwned)b", Kind::Folder}}, "@/a\\$\\(touch\\ pwned\\)b", std::nullopt},
        DropCase{"LineFeed", {{"new\nline", Kind::Folder}}, "@/new'\n'line", std::nullopt},
        DropCase{"ShellCodeInServerFolder", {{"x;touch pwned/velmoor", Kind::File}}, std::nullopt,
                 "@/x\\;touch\\ pwned"},
        DropCase{"PlainText", {}, std::nullopt, std::nullopt},
        DropCase{"WebLinkOnly", {{"https://example.com/share", Kind::Url}}, std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DropsTest, UrlDragsAreAcceptedAndPlainTextIsNot) {
  Open();
  QMimeData files;
  files.setUrls({FileUrl(root_.path())});
  EXPECT_TRUE(Drop(files));
  QMimeData text;
  text.setText("hello");
  EXPECT_FALSE(Drop(text));
}

TEST_F(DropsTest, NothingIsTakenBeforeTheOpeningAcceptsDrops) {
  MainWindow& w = Open(false);
  QMimeData files;
  files.setUrls({FileUrl(root_.path() / "share")});
  EXPECT_FALSE(Drop(files));
  EXPECT_EQ(w.ShareDir()->Text(), "/Games");
  EXPECT_EQ(w.velmoor()->Text(), "/Games");
}

// --- Dropped names reach the server literally ------------------------------

struct StartedCase {
  const char* name;
  std::string folder;
};
void PrintTo(const StartedCase& c, std::ostream* os) { *os << c.name; }

class DroppedAndStarted : public DropsTest, public ::testing::WithParamInterface<StartedCase> {};

TEST_P(DroppedAndStarted, ServerGetsTheLiteralPathAndNothingElseRuns) {
  const fs::path share = root_.path() / GetParam().folder;
  fs::create_directories(share);
  MainWindow& w = Open();

  QMimeData server;
  server.setUrls({FileUrl(testsupport::FakesDir() / "velmoor")});
  Drop(server);
  ASSERT_EQ(w.velmoor()->Text(), testsupport::FakesDir().string());
  QMimeData folder;
  folder.setUrls({FileUrl(share)});
  Drop(folder);

  QTest::mouseClick(Widget<QPushButton>("PushButton1"), Qt::LeftButton);
  ASSERT_TRUE(testsupport::PumpUntil([&] { return !Records().empty(); }));
  testsupport::Pump(300ms);

  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].args, (std::vector<std::string>{"-p", "38008", share.string()}));
  for (const fs::path& place : {cwd_.path(), root_.path(), share, testsupport::FakesDir()}) {
    EXPECT_FALSE(fs::exists(place / "pwned")) << place;
  }
  EXPECT_TRUE(fs::exists(share));
}

INSTANTIATE_TEST_SUITE_P(
    Names, DroppedAndStarted,
    ::testing::Values(StartedCase{"Substitution", "a$(touch pwned)b"},
                      StartedCase{"Backquotes", "x`touch pwned`y"},
                      StartedCase{"ListAndBackground", "s;touch pwned&"},
                      StartedCase{"QuotesAndPipe", "q'\"|touch pwned"},
                      StartedCase{"LineFeed", "new\n touch pwned"},
                      StartedCase{"GlobTildeBraceHash", "glob * ~ {a,b} #"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
