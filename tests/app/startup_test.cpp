// Start-up: the menu table, the shared bar, the drop type and its one
// registration, and the exit status.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "app/app.h"
#include "app/dropfiles.h"
#include "app/main_menu_bar.h"
#include "platform/runtime.h"
#include "platform/shell.h"
#include "support/fake_record.h"
#include "support/open_descriptors.h"
#include "support/pump.h"
#include "support/test_support.h"
#include "window/main_window.h"

namespace {

struct ItemCase {
  const char* parent;  // "" for the bar
  const char* name;
  const char* text;
  bool visible;
  const char* shortcut;
  bool quitItem;
};

const ItemCase kMenuTable[] = {
    {"", "FileMenu", "&File", false, "", false},
    {"FileMenu", "FileQuit", "&Quit", true, "Cmd+Q", true},
    {"", "EditMenu", "&Edit", false, "", false},
    {"EditMenu", "DeleteConfig", "&Reset Config", false, "Cmd+R", false},
    {"", "Menu", "", false, "", false},
};

TEST(MenuBarTest, HoldsTheMenuTableInOrder) {
  auto bar = MainMenuBar::ImplicitInstance();
  ASSERT_EQ(bar->Count(), 3u);
  EXPECT_EQ(bar->Item(0)->Name(), "FileMenu");
  EXPECT_EQ(bar->Item(1)->Name(), "EditMenu");
  EXPECT_EQ(bar->Item(2)->Name(), "Menu");
  EXPECT_EQ(bar->Lookup("FileMenu")->Count(), 1u);
  EXPECT_EQ(bar->Lookup("EditMenu")->Count(), 1u);
  EXPECT_EQ(bar->Lookup("Menu")->Count(), 0u);
  for (const auto& c : kMenuTable) {
    SCOPED_TRACE(c.name);
    const MenuItem& parent = *c.parent ? *bar->Child(c.parent) : *bar;
    auto item = parent.Child(c.name);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Text(), c.text);
    EXPECT_EQ(item->Visible(), c.visible);
    EXPECT_EQ(item->KeyboardShortcut(), c.shortcut);
    EXPECT_TRUE(item->AutoEnable());
    EXPECT_EQ(Cast<QuitMenuItem>(item) != nullptr, c.quitItem);
  }
}

TEST(MenuBarTest, IsBuiltOnceAndShared) {
  auto first = MainMenuBar::ImplicitInstance();
  auto second = MainMenuBar::ImplicitInstance();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->Count(), 3u) << "a second call must not build the menus again";
  NewAppInstance();
  EXPECT_EQ(RegisteredApplication()->MenuBar(), first);
}

TEST(DropTypeTest, IsRegisteredExactlyOnceAndWithdrawnWhenReleased) {
  EXPECT_EQ(Dropfiles::All(), "special/any;");
  const int callsBefore = FileTypeRegistrationCalls();
  Dropfiles::Initialize();
  EXPECT_EQ(Dropfiles::All(), "special/any;");
  EXPECT_EQ(FileTypeRegistrationCalls() - callsBefore, 1);
  ASSERT_EQ(RegisteredFileTypes().size(), 1u);
  const auto& r = RegisteredFileTypes().front();
  EXPECT_EQ(r.name, "special/any");
  EXPECT_EQ(r.macCreator, "????");
  EXPECT_EQ(r.macType, "????");
  EXPECT_EQ(r.extensions, "");
  EXPECT_EQ(r.uti, "");
  EXPECT_TRUE(Dropfiles::pAny->Imported());
  Dropfiles::pAny = nullptr;
  EXPECT_TRUE(RegisteredFileTypes().empty());
}

TEST(FileTypeTest, SettersWithdrawAndConversionRegistersOnce) {
  FileType t;
  t.SetName("a/b");
  EXPECT_EQ(t.Operator_Convert(), "a/b");
  EXPECT_EQ(t.Operator_Convert(), "a/b");
  EXPECT_EQ(RegisteredFileTypes().size(), 1u) << "converting twice registers once";
  t.SetMacType("TEXT");
  EXPECT_FALSE(t.IsRegistered());
  EXPECT_TRUE(RegisteredFileTypes().empty());
  t.Operator_Convert();
  EXPECT_EQ(RegisteredFileTypes().front().macType, "TEXT");
}

TEST(ExceptionHelperTest, ReturnsRuntimeExceptionsAndPassesOthersOn) {
  auto raiseJson = [](void*) { throw JSONException("Missing :", 5); };
  auto raiseOther = [](void*) { throw std::logic_error("other"); };
  auto fine = [](void*) {};
  EXPECT_EQ(CallFunctionWithExceptionHandling(fine, nullptr), nullptr);
  auto returned = CallFunctionWithExceptionHandling(raiseJson, nullptr);
  ASSERT_NE(returned, nullptr);
  try {
    std::rethrow_exception(returned);
  } catch (const JSONException& e) {
    EXPECT_EQ(e.ErrorNumber, 5);  // the subclass survives the trip
  }
  EXPECT_THROW(CallFunctionWithExceptionHandling(raiseOther, nullptr), std::logic_error);
}

TEST(ExceptionHelperTest, AHandlerExceptionIsReportedAndTheLoopGoesOn) {
  RuntimeSetExceptionHelper({&CallFunctionWithExceptionHandling, "( Ptr, Ptr ) as Object"});
  testing::internal::CaptureStderr();
  Dispatch([] { throw OutOfBoundsException("index 1 is past the end", 0); });
  Dispatch([] { throw std::runtime_error("plain"); });
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("OutOfBoundsException 0: index 1 is past the end"), std::string::npos) << err;
  EXPECT_NE(err.find("plain"), std::string::npos) << err;
}

// The path that runs where a window system is present, taken once under the
// offscreen platform: the box is shown, not run modally, and the loop goes on.
TEST(ExceptionHelperTest, TheErrorMessageBoxDoesNotBlockTheEventLoop) {
  using namespace std::chrono_literals;
  RuntimeSetExceptionHelper({&CallFunctionWithExceptionHandling, "( Ptr, Ptr ) as Object"});
  ShowMessageBoxesOffscreenForTests(true);
  // Should a box ever run modally, this ends it, so the test fails instead of hanging.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  guard.start(3000);

  testing::internal::CaptureStderr();
  const auto started = std::chrono::steady_clock::now();
  Dispatch([] { throw IOException("cannot open /x: Permission denied", 13); });
  const auto took = std::chrono::steady_clock::now() - started;
  testing::internal::GetCapturedStderr();
  EXPECT_LT(took, 2s) << "the report waited for the box";

  QMessageBox* box = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* b = qobject_cast<QMessageBox*>(w)) box = b;
  }
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->windowModality(), Qt::NonModal);
  EXPECT_TRUE(box->text().contains("IOException 13: cannot open /x: Permission denied"))
      << box->text().toStdString();

  bool fired = false;
  QTimer::singleShot(10, [&] { fired = true; });
  EXPECT_TRUE(testsupport::PumpUntil([&] { return fired; }, 2s));
  EXPECT_TRUE(box->isVisible()) << "the box stays while the loop runs on";
  box->close();
  ShowMessageBoxesOffscreenForTests(false);
}

class ExitStatusTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ExitStatusTest, NormalQuitExitsZero) {
  EXPECT_EXIT(
      {
        QTimer::singleShot(300, [] { MainWindow::ImplicitInstance()->FileQuit()->DefaultAction(); });
        Main();
        Dropfiles::pAny = nullptr;
        MainMenuBar::_implicitInstance = nullptr;
        const bool clean = RegisteredFileTypes().empty();
        std::_Exit(clean ? RuntimeExit() : 3);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(ExitStatusTest, StartUpEndedByAnExceptionExitsOne) {
  EXPECT_EXIT(
      {
        try {
          throw NilObjectException("nil menu FileMenu");
        } catch (...) {
          UnhandledException(std::current_exception());
        }
        std::_Exit(RuntimeExit());
      },
      testing::ExitedWithCode(1), "NilObjectException 0: nil menu FileMenu");
}

// Start-up ended by an exception, so the opening never comes: the query
// started ahead, still running, is ended with its group, reaped, and its
// descriptors closed, and the status is still 1.
TEST_F(ExitStatusTest, StartUpEndedByAnExceptionEndsTheQueryStartedAhead) {
  EXPECT_EXIT(
      {
        testsupport::TempDir tmp;
        const auto pidFile = tmp.path() / "pid";
        const auto before = OpenDescriptors();
        Shell::StartAhead("echo $$ > '" + pidFile.string() + "'; sleep 30 | cat");
        std::set<std::string> ahead;
        for (const auto& [fd, target] : OpenDescriptors()) {
          if (!before.count(fd)) ahead.insert(target);
        }
        testsupport::PumpUntil([&] { return !testsupport::ReadFile(pidFile).empty(); });
        const pid_t group = std::atoi(testsupport::ReadFile(pidFile).c_str());

        SetStartupHookForTests([] { throw RuntimeException("start-up failed"); });
        Main();
        Dropfiles::pAny = nullptr;
        MainMenuBar::_implicitInstance = nullptr;
        const int status = RuntimeExit();

        for (int i = 0; i < 100 && !testsupport::LiveGroupMembers(group).empty(); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (group <= 0 || ahead.size() != 2) std::_Exit(3);
        if (!testsupport::LiveGroupMembers(group).empty()) std::_Exit(4);
        if (!testsupport::OwnZombies().empty()) std::_Exit(5);
        for (const auto& [fd, target] : OpenDescriptors()) {
          if (ahead.count(target)) std::_Exit(6);
        }
        std::_Exit(status);
      },
      testing::ExitedWithCode(1), "RuntimeException 0: start-up failed");
}

}  // namespace
