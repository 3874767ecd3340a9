// The least a Qt 6 Widgets program can do in the launcher's place: a window
// of the launcher's size, and right after it is shown, the command line given
// as arguments handed to /bin/sh the way the launcher's shell does it (a new
// session, standard input from /dev/null, output its own), without waiting.
//
// With --controls it also builds what Qt alone costs the launcher's window:
// a main window with a menu bar and the same kinds and number of controls,
// with texts (two buttons, three text fields, seven labels, a check box), so
// that the start-up benchmark can tell the toolkit's share from the program's.
//
//   bare_qt_baseline [--controls] PROGRAM ARG...
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <memory>
#include <string>

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

void AddControls(QMainWindow& window) {
  QMenu* file = window.menuBar()->addMenu("&File");
  file->addAction("&Quit")->setShortcut(QKeySequence("Ctrl+Q"));
  file->menuAction()->setVisible(false);
  QMenu* edit = window.menuBar()->addMenu("&Edit");
  edit->addAction("&Reset Config")->setShortcut(QKeySequence("Ctrl+R"));
  edit->menuAction()->setVisible(false);

  auto* client = new QWidget;
  window.setCentralWidget(client);
  auto place = [](QWidget* w, int x, int y, int width, int height) { w->setGeometry(x, y, width, height); };
  place(new QPushButton("Start", client), 268, 133, 80, 20);
  place(new QPushButton("Reset", client), 176, 133, 80, 20);
  place(new QCheckBox("Auto", client), 20, 133, 100, 20);
  const char* fields[] = {"38008", "", "/Games"};
  for (int i = 0; i < 3; ++i) place(new QLineEdit(fields[i], client), 108, 14 + 26 * i, 240, 22);
  const char* labels[] = {"IP Address:", "Port:", "velmoor Folder:", "Share Folder:", "/Games", "ifconfig", "Drop"};
  for (int i = 0; i < 7; ++i) place(new QLabel(labels[i], client), 20 + (i / 4) * 88, 14 + 26 * (i % 4), 88, 20);
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
    auto main = std::make_unique<QMainWindow>();
    AddControls(*main);
    window = std::move(main);
  } else {
    window = std::make_unique<QWidget>();
  }
  window->setWindowTitle("MacOS Orvande");
  window->setFixedSize(368, 173);
  window->show();
  // The launcher's window opens from the first turn of the event loop too.
  QTimer::singleShot(0, window.get(), [command] { StartInShell(command); });
  return QApplication::exec();
}
