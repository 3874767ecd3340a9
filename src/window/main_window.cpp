#include "window/main_window.h"

namespace {

constexpr const char* kClassName = "MainWindow.MainWindow";

// The accessor pattern: nil window raises; the control is looked up by name
// every time and cast to the accessor's class (nil when missing).
template <class T>
std::shared_ptr<T> Control(MainWindow* window, const char* name) {
  return Cast<T>(Use(window, "window").ControlByName(name));
}

}  // namespace

MainWindow::~MainWindow() {
  ThreadString.clear();
  automount.clear();
}

std::shared_ptr<MainWindow> MainWindow::ImplicitInstance() {
  auto window = GetImplicitWindow(kClassName);
  if (!window) {
    auto made = std::make_shared<MainWindow>();
    // Registered before it is built, so its own events can find it.
    RegisterImplicitWindow(kClassName, made);
    made->Constructor();
    window = made;
  }
  return Cast<MainWindow>(window);
}

std::shared_ptr<PushButton> MainWindow::PushButton1() { return Control<PushButton>(this, "PushButton1"); }
std::shared_ptr<TextField> MainWindow::Port() { return Control<TextField>(this, "Port"); }
std::shared_ptr<Label> MainWindow::PortLabel() { return Control<Label>(this, "PortLabel"); }
std::shared_ptr<TextField> MainWindow::IPAddress() { return Control<TextField>(this, "IPAddress"); }
std::shared_ptr<Label> MainWindow::IPLabel() { return Control<Label>(this, "IPLabel"); }
std::shared_ptr<Label> MainWindow::ShareDir() { return Control<Label>(this, "ShareDir"); }
std::shared_ptr<Label> MainWindow::ShareLabel() { return Control<Label>(this, "ShareLabel"); }
std::shared_ptr<Label> MainWindow::Label1() { return Control<Label>(this, "Label1"); }
std::shared_ptr<Label> MainWindow::Label2() { return Control<Label>(this, "Label2"); }
std::shared_ptr<TextField> MainWindow::velmoor() { return Control<TextField>(this, "velmoor"); }
std::shared_ptr<Label> MainWindow::Label3() { return Control<Label>(this, "Label3"); }
std::shared_ptr<Shell> MainWindow::AsyncShell() { return Control<Shell>(this, "AsyncShell"); }
std::shared_ptr<CheckBox> MainWindow::CheckBox1() { return Control<CheckBox>(this, "CheckBox1"); }
std::shared_ptr<PushButton> MainWindow::PushButton2() { return Control<PushButton>(this, "PushButton2"); }
