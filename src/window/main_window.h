// The launcher's one window. Its controls live in the window's registry and
// are reached through the accessors of their names; every accessor looks its
// control up again, and a caller that gets nil raises NilObjectException.
//
// The handlers and the settings methods are short adapters: they read or set
// the controls and call down into src/settings and src/server, which know
// nothing of the window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/menu.h"
#include "platform/shell.h"
#include "platform/window.h"
#include "settings/settings_file.h"

class MainWindow : public Window {
 public:
  // The shell control's class: a shell that the window can hold among its
  // controls although it has no rectangle.
  class _wrapper_AsyncShell : public Shell, public PaneChild {
   public:
    void Constructor() {}
    void SetOwnerWindow(const std::weak_ptr<Window>& window) override { ownerWindow = window; }
    std::weak_ptr<Window> ownerWindow;
    std::int32_t Index = 0;
  };

  ~MainWindow() override;

  // The default window, made on first request.
  static std::shared_ptr<MainWindow> ImplicitInstance();

  virtual void Layout();
  virtual void CreateControls();
  virtual void CreateControls0();
  virtual std::shared_ptr<PushButton> PushButton1();
  virtual std::shared_ptr<TextField> Port();
  virtual std::shared_ptr<Label> PortLabel();
  virtual std::shared_ptr<TextField> IPAddress();
  virtual std::shared_ptr<Label> IPLabel();
  virtual std::shared_ptr<Label> ShareDir();
  virtual std::shared_ptr<Label> ShareLabel();
  virtual std::shared_ptr<Label> Label1();
  virtual std::shared_ptr<Label> Label2();
  virtual std::shared_ptr<TextField> velmoor();

 private:
  std::shared_ptr<Label> Label3();

 public:
  virtual std::shared_ptr<Shell> AsyncShell();
  virtual std::shared_ptr<CheckBox> CheckBox1();

 private:
  std::shared_ptr<PushButton> PushButton2();

 public:
  virtual void PushButton1_Action(std::shared_ptr<PushButton> button);
  virtual void AsyncShell_Completed(std::shared_ptr<Shell> shell);
  virtual void AsyncShell_DataAvailable(std::shared_ptr<Shell> shell);
  virtual void PushButton2_Action(std::shared_ptr<PushButton> button);
  virtual std::shared_ptr<MenuItem> Menu();
  virtual std::shared_ptr<MenuItem> EditMenu();
  virtual std::shared_ptr<MenuItem> DeleteConfig();
  virtual std::shared_ptr<MenuItem> FileMenu();
  virtual std::shared_ptr<QuitMenuItem> FileQuit();
  virtual void AddMenuHandlers(std::shared_ptr<Window> w);
  virtual void Event_Open();
  virtual void Event_DropObject(std::shared_ptr<DragItem> obj, std::int32_t action);
  virtual bool DeleteConfig_Action();

 private:
  void SavePreferences();
  void LoadPreferences();

 public:
  // "Yes" when the window is to push Start as it opens.
  std::string automount;

 protected:
  // The window's bound events.
  void LayoutEvent() override { Layout(); }
  void CreateControlsEvent() override { CreateControls(); }
  void AddMenuHandlersEvent(const std::shared_ptr<Window>& w) override { AddMenuHandlers(w); }
  void OpenEvent() override { Event_Open(); }
  void DropObjectEvent(const std::shared_ptr<DragItem>& obj, std::int32_t action) override {
    Event_DropObject(obj, action);
  }

 private:
  friend class MainWindowProbe;  // lets tests reach the private members

  // The last command line handed to AsyncShell.
  std::string ThreadString;

  // The settings file, which remembers whether the opening could read it.
  SettingsFile settingsFile_;
};
