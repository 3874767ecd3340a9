// Start-up: the menu table, the shared bar, the drop type and its one
// registration, and the exit status.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include "app/app.h"
#include "app/dropfiles.h"
#include "app/main_menu_bar.h"
#include "app/startup.h"
#include "platform/runtime.h"
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

}  // namespace
