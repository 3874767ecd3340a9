// Menus on Qt: every visible item with a shortcut becomes an action of the
// window, so its shortcut works even while its parent menu is hidden; a menu
// bar is shown only when one of its top-level items is visible.
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

#include "platform/menu.h"
#include "platform/qt/window_impl.h"
#include "platform/runtime.h"

void QuitMenuItem::DefaultAction() { QCoreApplication::quit(); }

namespace {

QAction* MakeAction(Window& window, const MenuItem& item, QObject* parent) {
  auto* action = new QAction(QString::fromStdString(item.Text()), parent);
  action->setObjectName(QString::fromStdString(item.Name()));
  action->setVisible(item.Visible());
  if (!item.KeyboardShortcut().empty()) {
    action->setShortcut(QKeySequence(QString::fromStdString(PortableShortcut(item.KeyboardShortcut()))));
    action->setShortcutContext(Qt::WindowShortcut);
  }
  std::weak_ptr<Object> weak = window.shared_from_this();
  std::string name = item.Name();
  QObject::connect(action, &QAction::triggered, action, [weak, name] {
    Dispatch([&] {
      if (auto w = std::static_pointer_cast<Window>(weak.lock())) w->DeliverMenuCommand(name);
    });
  });
  return action;
}

void AddItems(Window& window, Window::Impl& impl, const MenuItem& parent, QMenu* menu) {
  for (std::size_t i = 0; i < parent.Count(); ++i) {
    const auto item = parent.Item(i);
    if (item->Count() > 0) {
      QMenu* sub = menu ? menu->addMenu(QString::fromStdString(item->Text())) : nullptr;
      AddItems(window, impl, *item, sub);
      continue;
    }
    QAction* action = MakeAction(window, *item, impl.window);
    impl.window->addAction(action);
    impl.menuActions.emplace_back(action);
    if (menu) menu->addAction(action);
  }
}

}  // namespace

void InstallMenus(Window& window, Window::Impl& impl, const std::shared_ptr<MenuBar>& bar) {
  for (auto& action : impl.menuActions) delete action.data();
  impl.menuActions.clear();
  // menuWidget() does not make a bar; menuBar() would, and a bar costs
  // start-up time even hidden.
  if (auto* old = qobject_cast<QMenuBar*>(impl.window->menuWidget())) old->clear();
  if (!bar) return;
  bool anyVisible = false;
  for (std::size_t i = 0; i < bar->Count(); ++i) anyVisible |= bar->Item(i)->Visible();
  QMenuBar* menuBar = anyVisible ? impl.window->menuBar() : nullptr;
  for (std::size_t i = 0; i < bar->Count(); ++i) {
    const auto top = bar->Item(i);
    QMenu* menu = nullptr;
    if (menuBar && top->Visible()) menu = menuBar->addMenu(QString::fromStdString(top->Text()));
    AddItems(window, impl, *top, menu);
  }
  if (auto* shown = qobject_cast<QMenuBar*>(impl.window->menuWidget())) shown->setVisible(anyVisible);
}
