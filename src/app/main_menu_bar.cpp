#include "app/main_menu_bar.h"

std::shared_ptr<MainMenuBar> MainMenuBar::_implicitInstance;

std::shared_ptr<MainMenuBar> MainMenuBar::ImplicitInstance() {
  if (!_implicitInstance) {
    auto bar = std::make_shared<MainMenuBar>();
    bar->Constructor();
    _implicitInstance = bar;
  }
  return _implicitInstance;
}

namespace {

template <class T>
std::shared_ptr<T> MakeItem(const std::string& name, const std::string& text, bool visible,
                            const std::string& shortcut) {
  auto item = std::make_shared<T>();
  auto& i = Use(item, "menu item");
  i.Constructor();
  i.SetName(name);
  i.SetAutoEnable(true);
  i.SetText(text);
  i.SetVisible(visible);
  i.SetKeyboardShortcut(shortcut);
  return item;
}

}  // namespace

void MainMenuBar::Constructor() {
  Untitled0();
  Untitled1();
  Untitled2();
}

void MainMenuBar::Untitled0() {
  Append(MakeItem<MenuItem>("FileMenu", "&File", false, ""));
  auto quit = MakeItem<QuitMenuItem>("FileQuit", "&Quit", true, "Cmd+Q");
  Use(Child("FileMenu"), "menu FileMenu").Append(quit);
}

void MainMenuBar::Untitled1() {
  Append(MakeItem<MenuItem>("EditMenu", "&Edit", false, ""));
  auto reset = MakeItem<MenuItem>("DeleteConfig", "&Reset Config", false, "Cmd+R");
  Use(Child("EditMenu"), "menu EditMenu").Append(reset);
}

void MainMenuBar::Untitled2() { Append(MakeItem<MenuItem>("Menu", "", false, "")); }
