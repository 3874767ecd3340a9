// The window as it is built: title, size, the fourteen controls by name and
// class, their places, texts and tab order.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "support/window_fixture.h"
#include "window/design_data.h"

namespace {

class DesignTest : public WindowFixture {};

TEST_F(DesignTest, WindowHasTitleFixedClientSizeAndNoMenuRoom) {
  Open(false);
  QWidget* top = TopLevel();
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->windowTitle().toStdString(), "MacOS Orvande");
  ASSERT_TRUE(testsupport::PumpUntil([&] { return top->isVisible(); }));
  // No top-level menu is visible, so the whole window is the client area.
  EXPECT_EQ(top->size(), QSize(368, 173));
  EXPECT_EQ(top->minimumSize(), top->maximumSize()) << "the window must not be resizable";
}

struct ControlCase {
  const char* name;
  const char* qtClass;
  QRect geometry;
  const char* text;  // nil: the address query
  int tabIndex;
};

const ControlCase kControls[] = {
    {"PushButton1", "QPushButton", {306, 11, 59, 20}, "Start", 0},
    {"Port", "QLineEdit", {223, 10, 80, 22}, "38008", 1},
    {"PortLabel", "QLabel", {194, 10, 58, 20}, "Port", 2},
    {"IPAddress", "QLineEdit", {83, 9, 106, 22}, "", 3},
    {"IPLabel", "QLabel", {11, 11, 90, 20}, "IP Address", 4},
    {"ShareDir", "QLabel", {83, 54, 289, 20}, "/Games", 5},
    {"ShareLabel", "QLabel", {11, 54, 60, 20}, "Share Dir", 6},
    {"Label1", "QLabel", {11, 145, 380, 20}, nullptr, 7},  // the address query
    {"Label2", "QLabel", {11, 32, 60, 20}, "velmoor", 8},
    {"velmoor", "QLineEdit", {83, 33, 106, 22}, "/Games", 9},
    {"Label3", "QLabel", {33, 126, 289, 20}, "Drag and Drop folder or velmoor here to load", 11},
    {"CheckBox1", "QCheckBox", {306, 32, 58, 20}, "Auto", 12},
    {"PushButton2", "QPushButton", {223, 34, 80, 20}, "Reset", 13},
};

QString TextOf(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  return {};
}

TEST_F(DesignTest, VisibleControlsStandWhereTheDesignPutsThem) {
  Open(false);
  for (const auto& c : kControls) {
    SCOPED_TRACE(c.name);
    QWidget* w = Widget<QWidget>(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), c.qtClass);
    // Controls reaching past the window's edge are neither moved nor shrunk.
    EXPECT_EQ(w->geometry(), c.geometry);
    EXPECT_EQ(TextOf(w).toStdString(), c.text ? c.text : design::kAddressQuery);
    EXPECT_TRUE(w->isVisibleTo(TopLevel()));
    // Fields show their text as it stands, never masked.
    if (auto* field = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(field->echoMode(), QLineEdit::Normal);
      EXPECT_EQ(field->displayText(), field->text());
    }
  }
  EXPECT_FALSE(Widget<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_EQ(Widget<QLabel>("Label3")->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

TEST_F(DesignTest, RegistryGivesEachNameItsClassAndAccessorsAgree) {
  MainWindow& w = Open(false);
  const std::vector<std::string> expected = {"PushButton1", "Port", "PortLabel", "IPAddress", "IPLabel",
                                             "ShareDir", "ShareLabel", "Label1", "Label2", "velmoor",
                                             "Label3", "AsyncShell", "CheckBox1", "PushButton2"};
  EXPECT_EQ(w.ControlNames(), expected);
  EXPECT_EQ(w.PushButton1(), w.ControlByName("PushButton1"));
  EXPECT_EQ(w.Port(), w.ControlByName("Port"));
  EXPECT_EQ(w.PortLabel(), w.ControlByName("PortLabel"));
  EXPECT_EQ(w.IPAddress(), w.ControlByName("IPAddress"));
  EXPECT_EQ(w.IPLabel(), w.ControlByName("IPLabel"));
  EXPECT_EQ(w.ShareDir(), w.ControlByName("ShareDir"));
  EXPECT_EQ(w.ShareLabel(), w.ControlByName("ShareLabel"));
  EXPECT_EQ(w.Label1(), w.ControlByName("Label1"));
  EXPECT_EQ(w.Label2(), w.ControlByName("Label2"));
  EXPECT_EQ(w.velmoor(), w.ControlByName("velmoor"));
  EXPECT_EQ(MainWindowProbe::Label3(w), w.ControlByName("Label3"));
  EXPECT_EQ(w.CheckBox1(), w.ControlByName("CheckBox1"));
  EXPECT_EQ(MainWindowProbe::PushButton2(w), w.ControlByName("PushButton2"));
  // The shell is a subclass, handed out as a plain shell in mode 1.
  auto shell = w.AsyncShell();
  ASSERT_NE(shell, nullptr);
  EXPECT_NE(Cast<MainWindow::_wrapper_AsyncShell>(shell), nullptr);
  EXPECT_EQ(shell->Mode(), 1);
  // A name of another class gives nil through the accessor's cast.
  EXPECT_EQ(Cast<TextField>(w.ControlByName("ShareDir")), nullptr);
  EXPECT_TRUE(MainWindowProbe::ThreadString(w).empty());
  EXPECT_TRUE(w.automount.empty());
}

TEST_F(DesignTest, AccessorsBeforeControlsExistGiveNil) {
  auto bare = std::make_shared<MainWindow>();
  EXPECT_EQ(bare->PushButton1(), nullptr);
  EXPECT_EQ(bare->AsyncShell(), nullptr);
  EXPECT_EQ(bare->velmoor(), nullptr);
  EXPECT_TRUE(bare->automount.empty());
  // Their callers raise instead of crashing.
  EXPECT_THROW(bare->PushButton1_Action(nullptr), NilObjectException);
}

TEST_F(DesignTest, DesignDataKeepsIndexTabStopsAndTabOrder) {
  MainWindow& w = Open(false);
  for (const auto& c : kControls) {
    SCOPED_TRACE(c.name);
    auto control = Cast<PropertyObject>(w.ControlByName(c.name));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(std::get<std::int32_t>(*control->PropertyValueOf("Index")), INT32_MIN);
    EXPECT_EQ(std::get<std::int32_t>(*control->PropertyValueOf("TabIndex")), c.tabIndex);
    const bool isLabel = std::string(c.qtClass) == "QLabel";
    EXPECT_EQ(control->PropertyValueOf("TabStop") == nullptr, isLabel);
  }
  // Tab goes through the six stops in TabIndex order and back round.
  const char* order[] = {"PushButton1", "Port", "IPAddress", "velmoor", "CheckBox1", "PushButton2"};
  for (std::size_t i = 0; i < std::size(order); ++i) {
    QWidget* from = Widget<QWidget>(order[i]);
    QWidget* to = Widget<QWidget>(order[(i + 1) % std::size(order)]);
    QWidget* next = from->nextInFocusChain();
    while (next != from && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    EXPECT_EQ(next->objectName(), to->objectName()) << order[i];
  }
}

TEST_F(DesignTest, ControlEventsOtherThanTheFourRunNothing) {
  MainWindow& w = Open(false);
  QTest::mouseClick(Widget<QCheckBox>("CheckBox1"), Qt::LeftButton);
  QTest::keyClicks(Widget<QLineEdit>("Port"), "1");
  EXPECT_TRUE(w.CheckBox1()->Value());
  EXPECT_EQ(w.Port()->Text(), "380081");
  EXPECT_EQ(w.PushButton1()->Caption(), "Start");
  EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST_F(DesignTest, RenderedWindowIsSavedForReview) {
  Open(true);
  QWidget* top = TopLevel();
  ASSERT_NE(top, nullptr);
  const QString path = QString(ORVANDE_BINARY_DIR) + "/orvande-window.png";
  ASSERT_TRUE(top->grab().save(path));
  EXPECT_TRUE(std::filesystem::exists(path.toStdString()));
}

}  // namespace
