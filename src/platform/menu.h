// Menus: items with a Name, Text, Visible, KeyboardShortcut and AutoEnable,
// held in a tree under a MenuBar. A QuitMenuItem's command quits. An item's
// shortcut works while the item itself is visible, even when its parent menu
// is hidden; a menu bar with no visible top-level item takes no room.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/object.h"

class MenuItem : public Object {
 public:
  // The argument-less constructor of the framework: a plain enabled item.
  void Constructor();

  void SetName(std::string v) { name_ = std::move(v); }
  void SetAutoEnable(bool v) { autoEnable_ = v; }
  void SetText(std::string v) { text_ = std::move(v); }
  void SetVisible(bool v) { visible_ = v; }
  void SetKeyboardShortcut(std::string v) { shortcut_ = std::move(v); }

  const std::string& Name() const { return name_; }
  bool AutoEnable() const { return autoEnable_; }
  const std::string& Text() const { return text_; }
  bool Visible() const { return visible_; }
  const std::string& KeyboardShortcut() const { return shortcut_; }

  // Adds the item after the existing children.
  void Append(const std::shared_ptr<MenuItem>& item);
  // The direct child of that Name, or nil.
  std::shared_ptr<MenuItem> Child(const std::string& name) const;
  // The item of that Name at any depth below this one, or nil.
  std::shared_ptr<MenuItem> Lookup(const std::string& name) const;
  std::size_t Count() const { return children_.size(); }
  std::shared_ptr<MenuItem> Item(std::size_t index) const;

  // What the item does when its command is not handled by the window.
  virtual void DefaultAction() {}

 private:
  std::string name_, text_, shortcut_;
  bool autoEnable_ = true;
  bool visible_ = true;
  std::vector<std::shared_ptr<MenuItem>> children_;
};

class QuitMenuItem : public MenuItem {
 public:
  void DefaultAction() override;  // quits the application
};

class MenuBar : public MenuItem {};

// "Cmd+Q" as the toolkit writes it: "Ctrl+Q".
std::string PortableShortcut(const std::string& shortcut);
