// The window's menu items by name and its one menu command.
#include <QAction>
#include <QTest>
#include <QTimer>

#include "app/main_menu_bar.h"
#include "support/window_fixture.h"

namespace {

class MenuCommandsTest : public WindowFixture {};

TEST_F(MenuCommandsTest, AccessorsFindItemsAtAnyDepth) {
  MainWindow& w = Open(false);
  ASSERT_NE(w.DeleteConfig(), nullptr);
  EXPECT_EQ(w.DeleteConfig()->Text(), "&Reset Config");
  ASSERT_NE(w.FileQuit(), nullptr);
  EXPECT_EQ(w.FileQuit()->Text(), "&Quit");
  EXPECT_EQ(w.Menu()->Text(), "");
  EXPECT_EQ(w.EditMenu()->Text(), "&Edit");
  EXPECT_EQ(w.FileMenu()->Text(), "&File");
  // The window's bar is the application's one shared bar.
  EXPECT_EQ(w.MenuBar(), MainMenuBar::ImplicitInstance());
}

TEST_F(MenuCommandsTest, WithoutMenuBarEveryAccessorRaises) {
  auto bare = std::make_shared<MainWindow>();
  EXPECT_THROW(bare->Menu(), NilObjectException);
  EXPECT_THROW(bare->EditMenu(), NilObjectException);
  EXPECT_THROW(bare->DeleteConfig(), NilObjectException);
  EXPECT_THROW(bare->FileMenu(), NilObjectException);
  EXPECT_THROW(bare->FileQuit(), NilObjectException);
}

TEST_F(MenuCommandsTest, ResetConfigCommandChangesNothing) {
  MainWindow& w = Open();
  WriteSettings("{\"x\":\"y\"}");
  w.Port()->SetText("4000");
  w.DeliverMenuCommand("DeleteConfig");
  EXPECT_TRUE(w.DeleteConfig_Action());
  EXPECT_EQ(testsupport::ReadFile(SettingsFile()), "{\"x\":\"y\"}");
  EXPECT_EQ(w.Port()->Text(), "4000");
}

// A window that counts the runs of its menu command.
class CountingWindow : public MainWindow {
 public:
  bool DeleteConfig_Action() override {
    ++runs;
    return MainWindow::DeleteConfig_Action();
  }
  int runs = 0;
};

TEST_F(MenuCommandsTest, ResetConfigItemRunsItsHandler) {
  auto w = std::make_shared<CountingWindow>();
  w->Constructor();
  QAction* item = nullptr;
  for (QAction* a : TopLevel()->actions()) {
    if (a->objectName() == "DeleteConfig") item = a;
  }
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(item->isVisible());
  item->trigger();
  EXPECT_EQ(w->runs, 1);
}

TEST_F(MenuCommandsTest, CtrlQQuitsTheEventLoop) {
  Open();
  QWidget* top = TopLevel();
  top->activateWindow();
  bool quit = false;
  QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] { quit = true; });
  QTimer::singleShot(0, [top] { QTest::keyClick(top, Qt::Key_Q, Qt::ControlModifier); });
  // A guard in case the shortcut does nothing: the test then fails, not hangs.
  QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(quit);
}

TEST_F(MenuCommandsTest, HiddenItemsTakeNoRoomAndOnlyVisibleShortcutsAreLive) {
  Open(false);
  QWidget* top = TopLevel();
  const auto actions = top->actions();
  int live = 0;
  for (QAction* a : actions) {
    if (a->isVisible() && !a->shortcut().isEmpty()) {
      ++live;
      EXPECT_EQ(a->shortcut(), QKeySequence("Ctrl+Q"));
    }
  }
  EXPECT_EQ(live, 1);
}

}  // namespace
