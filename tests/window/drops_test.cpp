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
#include <QWindow>
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

enum class Kind { Folder, FolderUrlWithSlash, File, Absent, Url };

struct Item {
  std::string path;  // under the drop folder unless absolute; for Url the URL
  Kind kind;
};

struct DropCase {
  const char* name;
  std::vector<Item> items;            // none: a drop of plain text
  std::optional<std::string> share;   // "@" stands for the drop folder; none: unchanged
  std::optional<std::string> server;  // the same, for the server folder
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
      // "@" in a URL stands for the drop folder's path.
      std::string url = item.path;
      if (auto at = url.find('@'); at != std::string::npos) url.replace(at, 1, root_.str());
      urls.push_back(QUrl(QString::fromStdString(url)));
      continue;
    }
    const fs::path p = item.path.rfind('/', 0) == 0 ? fs::path(item.path) : root_.path() / item.path;
    if (item.kind == Kind::Folder || item.kind == Kind::FolderUrlWithSlash) fs::create_directories(p);
    if (item.kind == Kind::File) {
      fs::create_directories(p.parent_path());
      testsupport::WriteFile(p, "x");
    }
    urls.push_back(item.kind == Kind::FolderUrlWithSlash ? FileUrl(p.string() + "/") : FileUrl(p));
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
    testing::internal::CaptureStderr();
    Drop(mime);
    // Nothing to report, a drop without a local file included.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
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
        DropCase{"FolderUrlEndingInSlash", {{"share", Kind::FolderUrlWithSlash}}, "@/share", std::nullopt},
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
                 {{"first", Kind::Folder}, {"second/velmoor", Kind::File}},
                 "@/first",
                 std::nullopt},
        DropCase{"WebLinkBesideAFile",
                 {{"https://example.com/velmoor", Kind::Url}, {"local", Kind::Folder}},
                 "@/local",
                 std::nullopt},
        DropCase{
            "ShellCode", {{"a$(touch pwned)b", Kind::Folder}}, "@/a\\$\\(touch\\ pwned\\)b", std::nullopt},
        DropCase{"LineFeed", {{"new\nline", Kind::Folder}}, "@/new'\n'line", std::nullopt},
        DropCase{"ShellCodeInServerFolder",
                 {{"x;touch pwned/velmoor", Kind::File}},
                 std::nullopt,
                 "@/x\\;touch\\ pwned"},
        DropCase{"LocalhostUrl", {{"file://localhost@/share", Kind::Url}}, "@/share", std::nullopt},
        // A file on another machine is no local file.
        DropCase{"OtherHostUrl", {{"file://elsewhere@/share", Kind::Url}}, std::nullopt, std::nullopt},
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

// --- The window takes nothing from the source ------------------------------

// What the drag offers and the keys held while dragging: Shift proposes a
// move, Ctrl+Shift a link. A source that deletes its item after a move
// would lose the user's folder, so every drop is answered as a copy, and one
// that cannot be a copy is refused.
struct ActionCase {
  const char* name;
  Qt::DropActions offered;
  Qt::KeyboardModifiers modifiers;
  Qt::DropAction proposed;
  bool taken;
};
void PrintTo(const ActionCase& c, std::ostream* os) { *os << c.name; }

class DropAction : public DropsTest, public ::testing::WithParamInterface<ActionCase> {};

TEST_P(DropAction, IsAnsweredAsACopy) {
  const ActionCase& c = GetParam();
  const fs::path share = root_.path() / "share";
  fs::create_directories(share);
  MainWindow& w = Open();
  w.ShareDir()->SetText("/before/share");
  QMimeData mime;
  mime.setUrls({FileUrl(share)});

  // Through the toplevel QWindow, as the desktop delivers a drag and reads
  // back its answer.
  QWindow* window = TopLevel()->windowHandle();
  const QPoint at(150, 100);
  QDragEnterEvent enter(at, c.offered, &mime, Qt::LeftButton, c.modifiers);
  ASSERT_EQ(enter.proposedAction(), c.proposed);
  QCoreApplication::sendEvent(window, &enter);
  QDragMoveEvent move(at, c.offered, &mime, Qt::LeftButton, c.modifiers);
  QCoreApplication::sendEvent(window, &move);
  QDropEvent drop(QPointF(at), c.offered, &mime, Qt::LeftButton, c.modifiers);
  QCoreApplication::sendEvent(window, &drop);
  testsupport::Pump(10ms);

  EXPECT_EQ(enter.isAccepted(), c.taken);
  EXPECT_EQ(move.isAccepted(), c.taken);
  EXPECT_EQ(drop.isAccepted(), c.taken);
  if (c.taken) {
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
  }
  EXPECT_EQ(w.ShareDir()->Text(), c.taken ? share.string() : "/before/share");
  EXPECT_TRUE(fs::is_directory(share));
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DropAction,
    ::testing::Values(ActionCase{"Copy", Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::NoModifier,
                                 Qt::CopyAction, true},
                      ActionCase{"ShiftMove", Qt::CopyAction | Qt::MoveAction | Qt::LinkAction,
                                 Qt::ShiftModifier, Qt::MoveAction, true},
                      ActionCase{"CtrlShiftLink", Qt::CopyAction | Qt::MoveAction | Qt::LinkAction,
                                 Qt::ControlModifier | Qt::ShiftModifier, Qt::LinkAction, true},
                      ActionCase{"MoveOnly", Qt::MoveAction, Qt::NoModifier, Qt::MoveAction, false},
                      ActionCase{"LinkOrMoveOnly", Qt::MoveAction | Qt::LinkAction,
                                 Qt::ControlModifier | Qt::ShiftModifier, Qt::LinkAction, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Over every part of the window -----------------------------------------

// How a drag reaches the window: through its toplevel QWindow, which hands it
// to the widget under the point as a desktop's drag does, or sent straight to
// the widget under the point.
enum class Delivery { Desktop, ToWidgetUnderPoint };

struct PlaceCase {
  const char* name;
  const char* control;  // what lies under the point; nil: empty space
  Delivery delivery;
};
void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class DropOverPart : public DropsTest, public ::testing::WithParamInterface<PlaceCase> {
 protected:
  QPoint Point() {
    QWidget* top = TopLevel();
    if (!GetParam().control) return QPoint(150, 100);
    QWidget* control = Widget<QWidget>(GetParam().control);
    return control->mapTo(top, control->rect().center());
  }

  // Drags the data in at the point, moves it there and drops it; gives
  // whether the drag was accepted.
  bool DropAt(const QMimeData& mime, QPoint at) {
    QWidget* top = TopLevel();
    QObject* receiver = top->windowHandle();
    QPoint local = at;
    if (GetParam().delivery == Delivery::ToWidgetUnderPoint && GetParam().control) {
      QWidget* under = top->childAt(at);
      receiver = under;
      local = under->mapFrom(top, at);
    }
    QDragEnterEvent enter(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &enter);
    QDragMoveEvent move(local, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &move);
    // Dropped even when refused, which a desktop would not do.
    QDropEvent drop(QPointF(local), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(receiver, &drop);
    testsupport::Pump(10ms);
    return enter.isAccepted() && move.isAccepted();
  }
};

TEST_P(DropOverPart, OnlyADroppedFileOrFolderCountsAndIsEscaped) {
  const fs::path folder = root_.path() / "a$(touch pwned)b";
  const fs::path server = root_.path() / "server dir" / "velmoor";
  fs::create_directories(folder);
  fs::create_directories(server.parent_path());
  testsupport::WriteFile(server, "x");
  const QString folderText = QString::fromStdString(folder.string());
  const QString serverText = QString::fromStdString(server.string());
  const std::string escapedFolder = root_.str() + "/a\\$\\(touch\\ pwned\\)b";
  const std::string escapedServer = root_.str() + "/server\\ dir";

  struct Drag {
    const char* name;
    QList<QUrl> urls;
    QString text;  // text/plain beside the URLs; empty: none
    std::string share, server;
  };
  const Drag drags[] = {
      {"FolderUrl", {FileUrl(folder)}, "", escapedFolder, "/before/server"},
      {"FolderUrlAndText", {FileUrl(folder)}, folderText, escapedFolder, "/before/server"},
      {"ExecutableUrl", {FileUrl(server)}, "", "/before/share", escapedServer},
      {"ExecutableUrlAndText", {FileUrl(server)}, serverText, "/before/share", escapedServer},
      {"TextAlone", {}, folderText, "/before/share", "/before/server"},
  };

  MainWindow& w = Open();
  const QPoint at = Point();
  QWidget* under = TopLevel()->childAt(at);
  ASSERT_NE(under, nullptr);
  if (GetParam().control) {
    ASSERT_EQ(under->objectName().toStdString(), GetParam().control);
  } else {
    ASSERT_EQ(under->objectName(), "");  // the client area itself
  }

  for (const Drag& d : drags) {
    SCOPED_TRACE(d.name);
    w.Port()->SetText("4000");
    w.IPAddress()->SetText("10.0.0.1");
    w.velmoor()->SetText("/before/server");
    w.ShareDir()->SetText("/before/share");
    QMimeData mime;
    if (!d.urls.isEmpty()) mime.setUrls(d.urls);
    if (!d.text.isEmpty()) mime.setText(d.text);

    testing::internal::CaptureStderr();
    const bool accepted = DropAt(mime, at);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(accepted, !d.urls.isEmpty());

    EXPECT_EQ(ShownShareDir(), d.share);
    EXPECT_EQ(ShownVelmoor(), d.server);
    EXPECT_EQ(Widget<QLineEdit>("Port")->text().toStdString(), "4000");
    EXPECT_EQ(Widget<QLineEdit>("IPAddress")->text().toStdString(), "10.0.0.1");
  }
  EXPECT_FALSE(fs::exists(cwd_.path() / "pwned"));
  EXPECT_FALSE(fs::exists(SettingsFile()));
  EXPECT_EQ(w.PushButton1()->Caption(), "Start");
}

INSTANTIATE_TEST_SUITE_P(
    Places, DropOverPart,
    ::testing::Values(PlaceCase{"PortField", "Port", Delivery::Desktop},
                      PlaceCase{"IPAddressField", "IPAddress", Delivery::Desktop},
                      PlaceCase{"VelmoorField", "velmoor", Delivery::Desktop},
                      PlaceCase{"ShareDirLabel", "ShareDir", Delivery::Desktop},
                      PlaceCase{"HintLabel", "Label3", Delivery::Desktop},
                      PlaceCase{"CheckBox", "CheckBox1", Delivery::Desktop},
                      PlaceCase{"StartButton", "PushButton1", Delivery::Desktop},
                      PlaceCase{"EmptySpace", nullptr, Delivery::Desktop},
                      PlaceCase{"PortFieldDirectly", "Port", Delivery::ToWidgetUnderPoint},
                      PlaceCase{"IPAddressFieldDirectly", "IPAddress", Delivery::ToWidgetUnderPoint},
                      PlaceCase{"VelmoorFieldDirectly", "velmoor", Delivery::ToWidgetUnderPoint},
                      PlaceCase{"HintLabelDirectly", "Label3", Delivery::ToWidgetUnderPoint},
                      PlaceCase{"ResetButtonDirectly", "PushButton2", Delivery::ToWidgetUnderPoint}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Names that are not UTF-8 -----------------------------------------------

// Folder names in Latin-1, as an old disk or archive gives them, reach the
// controls, the server and the settings file with their bytes unchanged;
// through Qt text each would name a folder that does not exist.
TEST_F(DropsTest, NamesThatAreNotUtf8KeepTheirBytes) {
  const fs::path share = root_.path() / "caf\xE9";
  const fs::path server = root_.path() / "s\xE9rver";
  ASSERT_EQ(mkdir(share.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(server.c_str(), 0700), 0);
  ASSERT_EQ(symlink((testsupport::FakesDir() / "velmoor").c_str(), (server / "velmoor").c_str()), 0);
  const QByteArray root = QUrl::toPercentEncoding(QByteArray::fromStdString(root_.str()), "/");

  MainWindow& w = Open();
  QMimeData serverDrag;
  serverDrag.setUrls({QUrl::fromEncoded("file://" + root + "/s%E9rver/velmoor")});
  Drop(serverDrag);
  QMimeData shareDrag;
  shareDrag.setUrls({QUrl::fromEncoded("file://" + root + "/caf%E9")});
  Drop(shareDrag);
  EXPECT_EQ(w.velmoor()->Text(), server.string());
  EXPECT_EQ(w.ShareDir()->Text(), share.string());
  EXPECT_TRUE(fs::is_directory(w.ShareDir()->Text()));

  QTest::mouseClick(Widget<QPushButton>("PushButton1"), Qt::LeftButton);
  ASSERT_TRUE(testsupport::PumpUntil([&] { return !Records().empty(); }));
  EXPECT_EQ(Records()[0].args, (std::vector<std::string>{"-p", "38008", share.string()}));

  // The settings file holds the byte as it stands, and gives it back.
  EXPECT_NE(testsupport::ReadFile(SettingsFile()).find("\\/caf\xE9\""), std::string::npos);
  MainWindow& again = Open();
  EXPECT_EQ(again.ShareDir()->Text(), share.string());
  EXPECT_EQ(again.velmoor()->Text(), server.string());
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

INSTANTIATE_TEST_SUITE_P(Names, DroppedAndStarted,
                         ::testing::Values(StartedCase{"Substitution", "a$(touch pwned)b"},
                                           StartedCase{"Backquotes", "x`touch pwned`y"},
                                           StartedCase{"ListAndBackground", "s;touch pwned&"},
                                           StartedCase{"QuotesAndPipe", "q'\"|touch pwned"},
                                           StartedCase{"LineFeed", "new\n touch pwned"},
                                           StartedCase{"GlobTildeBraceHash", "glob * ~ {a,b} #"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
