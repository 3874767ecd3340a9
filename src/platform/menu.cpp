#include "platform/menu.h"

#include "platform/text.h"

void MenuItem::Constructor() {}

void MenuItem::Append(const std::shared_ptr<MenuItem>& item) {
  Use(item, "menu item");
  children_.push_back(item);
}

std::shared_ptr<MenuItem> MenuItem::Child(const std::string& name) const {
  for (const auto& c : children_) {
    if (Compare(c->Name(), name) == 0) return c;
  }
  return nullptr;
}

std::shared_ptr<MenuItem> MenuItem::Lookup(const std::string& name) const {
  for (const auto& c : children_) {
    if (Compare(c->Name(), name) == 0) return c;
    if (auto found = c->Lookup(name)) return found;
  }
  return nullptr;
}

std::shared_ptr<MenuItem> MenuItem::Item(std::size_t index) const {
  return index < children_.size() ? children_[index] : nullptr;
}

std::string PortableShortcut(const std::string& shortcut) { return ReplaceAll(shortcut, "Cmd+", "Ctrl+"); }
