// The least a Qt 6 Widgets program can do in the launcher's place: a window
// of the launcher's size, and right after it is shown, the command line given
// as arguments handed to /bin/sh the way the launcher's shell does it (a new
// session, standard input from /dev/null, output its own), without waiting.
//
// With --controls it builds the launcher's window as Qt sees it, and nothing
// more, so that the start-up benchmark can tell the toolkit's share from the
// program's: a main window whose central widget holds the thirteen controls
// with their texts, places, tab order and default button, the same window
// flags and fixed size, and the two menu items as shortcut actions of the
// window. Like the launcher it makes no menu bar, since no top-level menu is
// visible. It reads no settings, runs no address query and forwards no drops.
//
//   bare_qt_baseline [--controls] PROGRAM ARG...
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "window/design_data.h"

extern char** environ;

namespace {

void StartInShell(const std::string& command) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char**>(argv), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
}

enum class Kind { Button, Field, Label, Box };

struct Control {
  Kind kind;
  const char* name;
  int left, top, width, height;
  std::string text;
  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
  bool isDefault = false;
};

// The launcher's window design, in its order of creation, which is also its
// tab order.
std::vector<Control> Controls() {
  return {
      {Kind::Button, "PushButton1", 306, 11, 59, 20, "Start", {}, true},
      {Kind::Field, "Port", 223, 10, 80, 22, "38008"},
      {Kind::Label, "PortLabel", 194, 10, 58, 20, "Port"},
      {Kind::Field, "IPAddress", 83, 9, 106, 22, ""},
      {Kind::Label, "IPLabel", 11, 11, 90, 20, "IP Address"},
      {Kind::Label, "ShareDir", 83, 54, 289, 20, "/Games"},
      {Kind::Label, "ShareLabel", 11, 54, 60, 20, "Share Dir"},
      {Kind::Label, "Label1", 11, 145, 380, 20, design::kAddressQuery},
      {Kind::Label, "Label2", 11, 32, 60, 20, "velmoor"},
      {Kind::Field, "velmoor", 83, 33, 106, 22, "/Games"},
      {Kind::Label, "Label3", 33, 126, 289, 20, "Drag and Drop folder or velmoor here to load",
       Qt::AlignHCenter | Qt::AlignVCenter},
      {Kind::Box, "CheckBox1", 306, 32, 58, 20, "Auto"},
      {Kind::Button, "PushButton2", 223, 34, 80, 20, "Reset"},
  };
}

QWidget* MakeControl(const Control& c, QWidget* parent) {
  const QString text = QString::fromStdString(c.text);
  QWidget* w = nullptr;
  switch (c.kind) {
    case Kind::Button: {
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(false);
      button->setDefault(c.isDefault);
      w = button;
      break;
    }
    case Kind::Field:
      w = new QLineEdit(text, parent);
      break;
    case Kind::Label: {
      auto* label = new QLabel(parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(c.align);
      label->setText(text);
      w = label;
      break;
    }
    case Kind::Box:
      w = new QCheckBox(text, parent);
      break;
  }
  w->setObjectName(c.name);
  w->setGeometry(c.left, c.top, c.width, c.height);
  // Drops go to the window, never to a control.
  w->setAcceptDrops(false);
  return w;
}

void AddAction(QMainWindow& window, const char* name, const char* text, const char* keys, bool visible) {
  auto* action = new QAction(text, &window);
  action->setObjectName(name);
  action->setVisible(visible);
  action->setShortcut(QKeySequence(keys));
  action->setShortcutContext(Qt::WindowShortcut);
  window.addAction(action);
}

std::unique_ptr<QWidget> LauncherWindow() {
  auto window = std::make_unique<QMainWindow>();
  auto* client = new QWidget;
  window->setCentralWidget(client);
  window->setAcceptDrops(true);

  AddAction(*window, "FileQuit", "&Quit", "Ctrl+Q", true);
  QObject::connect(window->actions().back(), &QAction::triggered, qApp, &QCoreApplication::quit);
  // Hidden, so its shortcut does nothing, as in the launcher.
  AddAction(*window, "DeleteConfig", "&Reset Config", "Ctrl+R", false);

  window->setWindowTitle("MacOS Orvande");
  window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                         Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
  client->setFixedSize(368, 173);
  window->layout()->setSizeConstraint(QLayout::SetFixedSize);

  QWidget* previousStop = nullptr;
  for (const Control& c : Controls()) {
    QWidget* w = MakeControl(c, client);
    if (c.kind == Kind::Label) continue;
    if (previousStop) QWidget::setTabOrder(previousStop, w);
    previousStop = w;
  }
  return window;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool controls = argc > 1 && std::string(argv[1]) == "--controls";
  if (controls) ++first;
  std::string command;
  for (int i = first; i < argc; ++i) command += (i > first ? " " : "") + std::string(argv[i]);

  int qtArgc = 1;  // the command's own arguments are not Qt's
  QApplication app(qtArgc, argv);
  std::unique_ptr<QWidget> window;
  if (controls) {
    window = LauncherWindow();
  } else {
    window = std::make_unique<QWidget>();
    window->setWindowTitle("MacOS Orvande");
    window->setFixedSize(368, 173);
  }
  window->show();
  // The launcher's window opens from the first turn of the event loop too.
  QTimer::singleShot(0, window.get(), [command] { StartInShell(command); });
  return QApplication::exec();
}
