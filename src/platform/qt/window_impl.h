// The toolkit side of windows and controls, shared by the Qt glue files.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

#include "platform/window.h"

// The top-level widget: the client area is its central widget, and drops are
// handed to the window through a callback. It is the window's one drop
// target: Qt hands it every drag that a control under the pointer refuses.
// It pushes the focused or the default push button on Return and Enter.
class WindowWidget : public QMainWindow {
 public:
  std::function<void(std::vector<std::string>)> onDrop;
  bool acceptDrops = false;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

struct Window::Impl {
  QPointer<WindowWidget> window;
  QPointer<QWidget> client;
  std::vector<QPointer<QAction>> menuActions;
  ~Impl() { delete window.data(); }
};

struct RectControl::Impl {
  Kind kind;
  QPointer<QWidget> widget;
  ~Impl() { delete widget.data(); }
};

// Builds the window's menu actions from its menu bar (menu_qt.cpp).
void InstallMenus(Window& window, Window::Impl& impl, const std::shared_ptr<MenuBar>& bar);

// Lets go of every window the runtime holds; called before the toolkit ends.
void ReleaseWindows();

// Runs the clicks of the buttons pushed during the event handler that has
// just returned (controls_qt.cpp).
void RunPendingPushes();
