// Return and Enter push the default button, Start, as in a dialog, or the
// focused button, once per press however long the key is held: key events go
// in through the window as the desktop delivers them, to whichever control
// has the focus.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <chrono>
#include <filesystem>
#include <string>

#include "support/window_fixture.h"

namespace {

using namespace std::chrono_literals;

struct KeyCase {
  const char* name;
  const char* focus;  // the control with the focus; nil: none
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  int starts, resets;  // how often each button's Action runs
};
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class DefaultButtonTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // The server that Start runs ends at once.
    testsupport::WriteFile(server_.path() / "velmoor", "#!/bin/sh\nexit 0\n", true);
  }

  MainWindow& OpenCounting() {
    MainWindow& w = Open();
    w.velmoor()->SetText(server_.str());
    w.PushButton1()->AddActionHandler({[this](std::shared_ptr<PushButton>) { ++starts_; }, "( PushButton )"});
    MainWindowProbe::PushButton2(w)->AddActionHandler(
        {[this](std::shared_ptr<PushButton>) { ++resets_; }, "( PushButton )"});
    return w;
  }

  testsupport::TempDir server_;
  int starts_ = 0;
  int resets_ = 0;
};

class DefaultButton : public DefaultButtonTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(DefaultButton, ReturnPushesStartOrTheFocusedButton) {
  const KeyCase& c = GetParam();
  MainWindow& w = OpenCounting();
  QWidget* top = TopLevel();
  top->activateWindow();
  if (c.focus) {
    Widget<QWidget>(c.focus)->setFocus();
    ASSERT_EQ(top->focusWidget(), Widget<QWidget>(c.focus));
  } else if (QWidget* focused = top->focusWidget()) {
    focused->clearFocus();
  }

  QTest::keyClick(top->windowHandle(), c.key, c.modifiers);
  testsupport::Pump(50ms);

  EXPECT_EQ(starts_, c.starts);
  EXPECT_EQ(resets_, c.resets);
  EXPECT_EQ(w.PushButton1()->Caption(), c.starts == 1 ? "Stop" : "Start");
  // The key leaves the fields as they were.
  EXPECT_EQ(w.Port()->Text(), "38008");
  EXPECT_EQ(w.velmoor()->Text(), server_.str());
  EXPECT_FALSE(w.CheckBox1()->Value());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DefaultButton,
    ::testing::Values(KeyCase{"ReturnToTheWindow", nullptr, Qt::Key_Return, Qt::NoModifier, 1, 0},
                      KeyCase{"KeypadEnterToTheWindow", nullptr, Qt::Key_Enter, Qt::KeypadModifier, 1, 0},
                      KeyCase{"ReturnInPortField", "Port", Qt::Key_Return, Qt::NoModifier, 1, 0},
                      KeyCase{"ReturnInAddressField", "IPAddress", Qt::Key_Return, Qt::NoModifier, 1, 0},
                      KeyCase{"EnterInVelmoorField", "velmoor", Qt::Key_Enter, Qt::KeypadModifier, 1, 0},
                      KeyCase{"ReturnOnAuto", "CheckBox1", Qt::Key_Return, Qt::NoModifier, 1, 0},
                      KeyCase{"ReturnOnStart", "PushButton1", Qt::Key_Return, Qt::NoModifier, 1, 0},
                      KeyCase{"ReturnOnReset", "PushButton2", Qt::Key_Return, Qt::NoModifier, 0, 1},
                      KeyCase{"SpaceOnReset", "PushButton2", Qt::Key_Space, Qt::NoModifier, 0, 1},
                      KeyCase{"CtrlReturn", "Port", Qt::Key_Return, Qt::ControlModifier, 0, 0},
                      KeyCase{"CtrlReturnOnStart", "PushButton1", Qt::Key_Return, Qt::ControlModifier, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DefaultButtonTest, StartHasTheDefaultLookAndResetDoesNot) {
  Open(false);
  EXPECT_TRUE(Widget<QPushButton>("PushButton1")->isDefault());
  EXPECT_FALSE(Widget<QPushButton>("PushButton2")->isDefault());
}

// A held key as X11 and Wayland deliver it: a press, then pairs of an
// auto-repeated release and press, then the last release.
struct HeldCase {
  const char* name;
  const char* focus;  // nil: where the opening left it, on Start
  Qt::Key key;
  Qt::KeyboardModifiers modifiers;
  const char* text;
  int starts, resets;
};
void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }

class HeldKey : public DefaultButtonTest, public ::testing::WithParamInterface<HeldCase> {
 protected:
  void SetUp() override {
    DefaultButtonTest::SetUp();
    // A second push would run Stop: its killall must meet nothing real.
    testsupport::WriteFile(bin_->path() / "killall", "#!/bin/sh\nexit 0\n", true);
  }
};

TEST_P(HeldKey, PushesOnce) {
  const HeldCase& c = GetParam();
  MainWindow& w = OpenCounting();
  QWidget* top = TopLevel();
  top->activateWindow();
  if (c.focus) Widget<QWidget>(c.focus)->setFocus();
  ASSERT_EQ(top->focusWidget(), Widget<QWidget>(c.focus ? c.focus : "PushButton1"));

  QWindow* window = top->windowHandle();
  const QString text = QString::fromLatin1(c.text);
  qt_handleKeyEvent(window, QEvent::KeyPress, c.key, c.modifiers, text, false);
  for (int i = 0; i < 6; ++i) {
    qt_handleKeyEvent(window, QEvent::KeyRelease, c.key, c.modifiers, text, true);
    qt_handleKeyEvent(window, QEvent::KeyPress, c.key, c.modifiers, text, true);
  }
  qt_handleKeyEvent(window, QEvent::KeyRelease, c.key, c.modifiers, text, false);
  testsupport::Pump(50ms);

  EXPECT_EQ(starts_, c.starts);
  EXPECT_EQ(resets_, c.resets);
  EXPECT_EQ(w.PushButton1()->Caption(), c.starts == 1 ? "Stop" : "Start");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, HeldKey,
    ::testing::Values(
        HeldCase{"ReturnOnStartAsOpened", nullptr, Qt::Key_Return, Qt::NoModifier, "\r", 1, 0},
        HeldCase{"EnterOnStartAsOpened", nullptr, Qt::Key_Enter, Qt::KeypadModifier, "\r", 1, 0},
        HeldCase{"SpaceOnStart", "PushButton1", Qt::Key_Space, Qt::NoModifier, " ", 1, 0},
        HeldCase{"ReturnInPortField", "Port", Qt::Key_Return, Qt::NoModifier, "\r", 1, 0},
        HeldCase{"EnterInVelmoorField", "velmoor", Qt::Key_Enter, Qt::KeypadModifier, "\r", 1, 0},
        HeldCase{"ReturnOnAuto", "CheckBox1", Qt::Key_Return, Qt::NoModifier, "\r", 1, 0},
        HeldCase{"ReturnOnReset", "PushButton2", Qt::Key_Return, Qt::NoModifier, "\r", 0, 1},
        HeldCase{"EnterOnReset", "PushButton2", Qt::Key_Enter, Qt::KeypadModifier, "\r", 0, 1},
        HeldCase{"SpaceOnReset", "PushButton2", Qt::Key_Space, Qt::NoModifier, " ", 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
