// Windows on Qt: a QMainWindow whose central widget is the client area, with
// the controls placed at their design coordinates.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <map>

#include "platform/folderitem.h"
#include "platform/menu.h"
#include "platform/qt/window_impl.h"
#include "platform/runtime.h"

namespace {

std::map<std::string, std::shared_ptr<Window>>& ImplicitWindows() {
  static std::map<std::string, std::shared_ptr<Window>> windows;
  return windows;
}

// The path of a local file's URL, as bytes: taken from the percent-encoding,
// so a name that is not UTF-8 keeps its bytes, which Qt text would replace.
// Empty for a URL that names no file on this machine.
std::string LocalPath(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  const QString host = url.host();
  if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) return {};
  std::string path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
  // A folder's URL may end in a slash; its path does not.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::vector<std::string> LocalPaths(const QMimeData* mime) {
  std::vector<std::string> paths;
  if (!mime || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    std::string path = LocalPath(url);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

// The window takes nothing from the source, so every drag it takes is
// answered as a copy, whatever the keys held propose: a source that deletes
// its item after a move would lose the user's folder. A drag that cannot be
// a copy is refused.
bool TakeAsCopy(QDropEvent* event) {
  if (!event->mimeData()->hasUrls() || !(event->possibleActions() & Qt::CopyAction)) {
    event->ignore();
    return false;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  return true;
}

}  // namespace

void WindowWidget::dragEnterEvent(QDragEnterEvent* event) {
  if (acceptDrops) TakeAsCopy(event);
}

void WindowWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (acceptDrops) TakeAsCopy(event);
}

void WindowWidget::dropEvent(QDropEvent* event) {
  if (!acceptDrops || !onDrop || !TakeAsCopy(event)) return;
  onDrop(LocalPaths(event->mimeData()));
}

void WindowWidget::keyPressEvent(QKeyEvent* event) {
  // Qt pushes a default button in dialogs only; any window does it here, as a
  // dialog does, for a Return or Enter that the focused control left alone.
  // A held key pushes once, not at every repeat.
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  const bool enter =
      (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && mods == Qt::NoModifier;
  if (enter) {
    // The focused push button takes Return, as on any desktop: Return on
    // Reset must never start the server. Else the default button does. The
    // buttons leave these keys to this one place.
    auto usable = [](QPushButton* b) { return b && b->isVisible() && b->isEnabled(); };
    QPushButton* target = qobject_cast<QPushButton*>(focusWidget());
    if (!usable(target)) {
      target = nullptr;
      for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->isDefault() && usable(button)) {
          target = button;
          break;
        }
      }
    }
    if (target) {
      if (!event->isAutoRepeat()) target->click();
      event->accept();
      return;
    }
  }
  QMainWindow::keyPressEvent(event);
}

std::shared_ptr<::FolderItem> DragItem::FolderItem() const {
  if (paths_.empty()) return nullptr;
  return std::make_shared<::FolderItem>(paths_.front());
}

// Raises the window's bound events; a friend, so the hooks stay protected.
struct WindowEvents {
  static void Layout(Window& w) { w.LayoutEvent(); }
  static void CreateControls(Window& w) { w.CreateControlsEvent(); }
  static void AddMenuHandlers(Window& w, const std::shared_ptr<Window>& arg) { w.AddMenuHandlersEvent(arg); }
  static void Open(Window& w) {
    w.opened_ = true;
    w.OpenEvent();
  }
  static void DropObject(Window& w, const std::shared_ptr<DragItem>& item) { w.DropObjectEvent(item, 0); }
};

Window::Window() : impl_(std::make_unique<Impl>()) {}
Window::~Window() = default;

namespace {

// Gives keyboard focus to the tab stops in the order of their TabIndex.
void ApplyTabOrder(const Window& window) {
  std::vector<std::pair<std::int32_t, QWidget*>> stops;
  for (const auto& name : window.ControlNames()) {
    auto control = Cast<RectControl>(window.ControlByName(name));
    if (!control || !control->impl().widget) continue;
    QWidget* widget = control->impl().widget;
    if (widget->focusPolicy() & Qt::TabFocus) {
      const PropertyValue* v = control->PropertyValueOf("TabIndex");
      std::int32_t index = v && std::holds_alternative<std::int32_t>(*v) ? std::get<std::int32_t>(*v) : 0;
      stops.emplace_back(index, widget);
    }
  }
  std::stable_sort(stops.begin(), stops.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < stops.size(); ++i) {
    QWidget::setTabOrder(stops[i - 1].second, stops[i].second);
  }
}

}  // namespace

void Window::Constructor() {
  AssertMainThread("Window.Constructor");
  auto self = std::static_pointer_cast<Window>(shared_from_this());
  std::weak_ptr<Window> weak = self;

  impl_->window = new WindowWidget;
  impl_->client = new QWidget;
  impl_->window->setCentralWidget(impl_->client);
  impl_->window->setAcceptDrops(true);
  impl_->window->onDrop = [weak](std::vector<std::string> paths) {
    auto item = std::make_shared<DragItem>(std::move(paths));
    Dispatch([&] {
      if (auto w = weak.lock()) WindowEvents::DropObject(*w, item);
    });
  };
  // Until the design data says otherwise, a window is shown.
  if (!PropertyValueOf("Visible")) PropertyObject::SetProperty("Visible", true);

  Dispatch([&] { WindowEvents::Layout(*self); });
  Dispatch([&] { WindowEvents::CreateControls(*self); });
  Dispatch([&] { WindowEvents::AddMenuHandlers(*self, self); });
  ApplyTabOrder(*this);

  if (BoolOf("Visible", true)) {
    impl_->window->show();
    QTimer::singleShot(0, impl_->window, [weak] {
      Dispatch([&] {
        if (auto w = weak.lock()) WindowEvents::Open(*w);
      });
    });
  }
}

void Window::AddControl(const std::string& name, const std::shared_ptr<Object>& control) {
  AssertMainThread("Window.AddControl");
  if (!controls_.count(name)) controlOrder_.push_back(name);
  controls_[name] = control;
}

std::shared_ptr<Object> Window::ControlByName(const std::string& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

void Window::SetMenuBar(std::shared_ptr<::MenuBar> bar) {
  AssertMainThread("Window.MenuBar");
  menuBar_ = std::move(bar);
  if (impl_->window) InstallMenus(*this, *impl_, menuBar_);
}

void Window::AcceptFileDrop(const std::string& typeNames) {
  acceptedTypes_ += typeNames;
  if (impl_->window) impl_->window->acceptDrops = !acceptedTypes_.empty();
}

void Window::AddMenuHandler(const std::string& itemName, Delegate<bool()> handler) {
  menuHandlers_[itemName] = std::move(handler);
}

void Window::DeliverMenuCommand(const std::string& itemName) {
  auto it = menuHandlers_.find(itemName);
  if (it != menuHandlers_.end() && it->second) {
    // What the handler answers is only whether it took the command.
    if (it->second()) return;
  }
  if (menuBar_) {
    if (auto item = menuBar_->Lookup(itemName)) item->DefaultAction();
  }
}

void Window::SetProperty(const std::string& name, const PropertyValue& value) {
  PropertyObject::SetProperty(name, value);
  WindowWidget* w = impl_->window;
  if (!w) return;
  const bool resizeable = BoolOf("Resizeable", true);
  if (name == "Title") {
    w->setWindowTitle(QString::fromStdString(TextOf("Title", "")));
  } else if (name == "Width" || name == "Height" || name == "Resizeable" || name == "MinWidth" ||
             name == "MinHeight" || name == "MaxWidth" || name == "MaxHeight") {
    const QSize size(IntOf("Width", 300), IntOf("Height", 300));
    if (resizeable) {
      impl_->client->setMinimumSize(IntOf("MinWidth", 0), IntOf("MinHeight", 0));
      impl_->client->setMaximumSize(IntOf("MaxWidth", QWIDGETSIZE_MAX), IntOf("MaxHeight", QWIDGETSIZE_MAX));
      impl_->client->resize(size);
      w->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    } else {
      impl_->client->setFixedSize(size);
      w->layout()->setSizeConstraint(QLayout::SetFixedSize);
    }
    w->adjustSize();
  } else if (name == "MaximizeButton" || name == "MinimizeButton" || name == "CloseButton") {
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
    if (BoolOf("CloseButton", true)) flags |= Qt::WindowCloseButtonHint;
    if (BoolOf("MinimizeButton", true)) flags |= Qt::WindowMinimizeButtonHint;
    if (BoolOf("MaximizeButton", true)) flags |= Qt::WindowMaximizeButtonHint;
    const bool shown = w->isVisible();
    w->setWindowFlags(flags);
    if (shown) w->show();
  } else if (name == "Visible" && opened_) {
    w->setVisible(BoolOf("Visible", true));
  }
}

std::shared_ptr<Window> GetImplicitWindow(const std::string& className) {
  auto& windows = ImplicitWindows();
  auto it = windows.find(className);
  return it == windows.end() ? nullptr : it->second;
}

void RegisterImplicitWindow(const std::string& className, const std::shared_ptr<Window>& window) {
  ImplicitWindows()[className] = window;
}

void ReleaseWindows() { ImplicitWindows().clear(); }
