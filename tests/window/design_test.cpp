// The window as it is built: title, size, the fourteen controls by name and
// class, their places, texts and tab order.
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRegion>
#include <QTest>
#include <vector>

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
  const std::vector<std::string> expected = {
      "PushButton1", "Port",   "PortLabel", "IPAddress", "IPLabel",    "ShareDir",  "ShareLabel",
      "Label1",      "Label2", "velmoor",   "Label3",    "AsyncShell", "CheckBox1", "PushButton2"};
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

// The pixels of the region that differ from the colour.
int PixelsOtherThan(const QImage& image, const QRegion& region, QRgb colour) {
  int count = 0;
  for (const QRect& r : region) {
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) count += image.pixel(x, y) != colour;
    }
  }
  return count;
}

// The window after its opening as the offscreen platform draws it: each
// control draws in its own part of the design rectangle (where no other
// control's rectangle reaches), except a label whose text is empty, which
// draws nothing, as Label1 after the opening; and where no control stands
// there is nothing but the window's background. The picture is kept in the
// build folder for review.
TEST_F(DesignTest, RenderedWindowShowsEachControlWhereTheDesignPutsIt) {
  Open(true);
  QWidget* top = TopLevel();
  ASSERT_NE(top, nullptr);
  ASSERT_TRUE(testsupport::PumpUntil([&] { return top->isVisible(); }));
  const QPixmap picture = top->grab();
  EXPECT_TRUE(picture.save(QString(ORVANDE_BINARY_DIR) + "/orvande-window.png"));
  ASSERT_EQ(picture.devicePixelRatio(), 1.0) << "pixels are counted at scale 1";
  const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
  // The client area is exactly the design's size.
  const QRect window(QPoint(0, 0), QSize(368, 173));
  ASSERT_EQ(image.size(), window.size());
  const QRgb background = top->palette().color(QPalette::Window).rgb();

  // Each design rectangle in the window's pixels, cut to the window.
  std::vector<QRect> places;
  for (const auto& c : kControls) {
    QWidget* w = Widget<QWidget>(c.name);
    ASSERT_NE(w, nullptr) << c.name;
    places.push_back(QRect(w->parentWidget()->mapTo(top, c.geometry.topLeft()), c.geometry.size()) & window);
  }

  QRegion covered;
  for (std::size_t i = 0; i < std::size(kControls); ++i) {
    const ControlCase& c = kControls[i];
    SCOPED_TRACE(c.name);
    covered += places[i];
    QRegion own(places[i]);
    for (std::size_t j = 0; j < places.size(); ++j) {
      if (j != i) own -= places[j];
    }
    ASSERT_FALSE(own.isEmpty());
    QWidget* w = Widget<QWidget>(c.name);
    if (qobject_cast<QLabel*>(w) && TextOf(w).isEmpty()) {
      EXPECT_EQ(PixelsOtherThan(image, own, background), 0) << "an empty label draws nothing";
    } else {
      EXPECT_GT(PixelsOtherThan(image, own, background), 0) << "nothing drawn where the design puts it";
    }
  }
  EXPECT_EQ(PixelsOtherThan(image, QRegion(window) - covered, background), 0)
      << "drawn where no control stands";
}

}  // namespace
