// The window's menu items by name, and its one menu command.
#include "window/main_window.h"

namespace {

template <class T>
std::shared_ptr<T> MenuItemNamed(MainWindow& window, const char* name) {
  auto& bar = Use(window.MenuBar(), "menu bar");
  return Cast<T>(bar.Lookup(name));
}

}  // namespace

std::shared_ptr<MenuItem> MainWindow::Menu() { return MenuItemNamed<MenuItem>(*this, "Menu"); }
std::shared_ptr<MenuItem> MainWindow::EditMenu() { return MenuItemNamed<MenuItem>(*this, "EditMenu"); }
std::shared_ptr<MenuItem> MainWindow::DeleteConfig() {
  return MenuItemNamed<MenuItem>(*this, "DeleteConfig");
}
std::shared_ptr<MenuItem> MainWindow::FileMenu() { return MenuItemNamed<MenuItem>(*this, "FileMenu"); }
std::shared_ptr<QuitMenuItem> MainWindow::FileQuit() {
  return MenuItemNamed<QuitMenuItem>(*this, "FileQuit");
}

void MainWindow::AddMenuHandlers(std::shared_ptr<Window> w) {
  // A window of another class would have no handler to give: raise, never crash.
  auto window = Cast<MainWindow>(w);
  Use(window, "MainWindow for menu handlers");
  AddMenuHandler("DeleteConfig", BindWeak(window, &MainWindow::DeleteConfig_Action, "(  ) as Boolean"));
}

bool MainWindow::DeleteConfig_Action() { return true; }
