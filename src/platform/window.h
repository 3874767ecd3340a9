// Windows and their controls, drawn by Qt at their design coordinates.
//
// Contract:
// - A window is made in two steps: std::make_shared, then Constructor(),
//   which builds the toolkit window and raises, in this order, Layout,
//   CreateControls and AddMenuHandlers; it then shows the window when its
//   Visible property is set and raises Open from the event loop once shown.
// - A subclass binds a window event by overriding its *Event hook.
// - Controls are made for a window with New<T>(), constructed, registered by
//   name with AddControl and found again with ControlByName (nil when nothing
//   has that name). The window owns them through its registry.
// - The window is the one drop target: a drop anywhere on it, over a control
//   included, raises DropObject once it accepts file drops; no control takes
//   a drop itself, so dragged text never lands in a field.
// - Return or Enter that the focused control does not take pushes the
//   window's visible, enabled push button whose Default is set, as in a
//   dialog; a held key pushes it once.
// - Every event reaches program code through the runtime's Dispatch, so an
//   exception that escapes a handler is reported and never crosses Qt.
// - The members that touch the toolkit are for the main thread only and
//   raise ThreadAccessingUIException elsewhere.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/properties.h"

class MenuBar;
class MenuItem;
class FolderItem;
class Window;

// Something a window can hold among its controls.
class PaneChild {
 public:
  virtual ~PaneChild() = default;
  virtual void SetOwnerWindow(const std::weak_ptr<Window>& window) = 0;
};

// What a drop carries: the first local file or folder of it, when any.
class DragItem : public Object {
 public:
  explicit DragItem(std::vector<std::string> localPaths) : paths_(std::move(localPaths)) {}
  bool FolderItemAvailable() const { return !paths_.empty(); }
  std::shared_ptr<::FolderItem> FolderItem() const;

 private:
  std::vector<std::string> paths_;
};

class Window : public PropertyObject {
 public:
  Window();
  ~Window() override;

  void Constructor();

  // A new object of the class made for this window, not yet constructed.
  template <class T>
  std::shared_ptr<T> New() {
    auto object = std::make_shared<T>();
    if constexpr (std::is_base_of_v<PaneChild, T>) {
      object->SetOwnerWindow(std::static_pointer_cast<Window>(shared_from_this()));
    }
    return object;
  }

  void AddControl(const std::string& name, const std::shared_ptr<Object>& control);
  std::shared_ptr<Object> ControlByName(const std::string& name) const;
  const std::vector<std::string>& ControlNames() const { return controlOrder_; }

  void SetMenuBar(std::shared_ptr<::MenuBar> bar);
  std::shared_ptr<::MenuBar> MenuBar() const { return menuBar_; }

  // Type names, each followed by ";". Drops of files and folders are taken
  // from then on.
  void AcceptFileDrop(const std::string& typeNames);
  const std::string& AcceptedFileTypes() const { return acceptedTypes_; }

  // Binds a handler to the command of the menu item of that name.
  void AddMenuHandler(const std::string& itemName, Delegate<bool()> handler);
  // Delivers the command of the named item, as choosing it does: the
  // window's handler when there is one, else the item's own action.
  void DeliverMenuCommand(const std::string& itemName);

  // True once Open has been raised on this window.
  bool HasOpened() const { return opened_; }

  void SetProperty(const std::string& name, const PropertyValue& value) override;

  // For the toolkit glue only.
  struct Impl;
  Impl& impl() const { return *impl_; }

 protected:
  // Event bindings.
  virtual void LayoutEvent() {}
  virtual void CreateControlsEvent() {}
  virtual void AddMenuHandlersEvent(const std::shared_ptr<Window>&) {}
  virtual void OpenEvent() {}
  virtual void DropObjectEvent(const std::shared_ptr<DragItem>&, std::int32_t) {}

 private:
  friend struct WindowEvents;
  std::unique_ptr<Impl> impl_;
  std::map<std::string, std::shared_ptr<Object>> controls_;
  std::vector<std::string> controlOrder_;
  std::shared_ptr<::MenuBar> menuBar_;
  std::map<std::string, Delegate<bool()>> menuHandlers_;
  std::string acceptedTypes_;
  bool opened_ = false;
};

// The implicit window of a class, or nil; Register makes a window the one.
std::shared_ptr<Window> GetImplicitWindow(const std::string& className);
void RegisterImplicitWindow(const std::string& className, const std::shared_ptr<Window>& window);

// The base of the visible controls: a widget on its window at Left, Top,
// Width and Height.
class RectControl : public PropertyObject, public PaneChild {
 public:
  ~RectControl() override;

  void SetOwnerWindow(const std::weak_ptr<Window>& window) override { owner_ = window; }
  std::shared_ptr<Window> OwnerWindow() const { return owner_.lock(); }

  // Makes the control's widget on its window with the toolkit's defaults.
  void Constructor();

  void SetProperty(const std::string& name, const PropertyValue& value) override;

  struct Impl;
  Impl& impl() const { return *impl_; }

 protected:
  enum class Kind { PushButton, TextField, Label, CheckBox };
  explicit RectControl(Kind kind);

 private:
  std::weak_ptr<Window> owner_;
  std::unique_ptr<Impl> impl_;
};

class PushButton : public RectControl {
 public:
  PushButton();
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  // Acts as a click and returns at once: the Action runs as soon as the
  // event handler that pushed has returned (before the window is painted or
  // takes other input), or, pushed outside any handler, from the event loop.
  void Push();
  void AddActionHandler(Delegate<void(std::shared_ptr<PushButton>)> handler);
  // Runs the Action handlers now, as a click does.
  void RaiseAction();

 private:
  std::vector<Delegate<void(std::shared_ptr<PushButton>)>> actionHandlers_;
};

class TextField : public RectControl {
 public:
  TextField();
  std::string Text() const;
  void SetText(const std::string& text);
};

class Label : public RectControl {
 public:
  Label();
  std::string Text() const;
  void SetText(const std::string& text);
};

class CheckBox : public RectControl {
 public:
  CheckBox();
  std::string Caption() const;
  bool Value() const;
  void SetValue(bool ticked);
};
