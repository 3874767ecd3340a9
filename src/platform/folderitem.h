// Folder items: a path on the local file system, whether or not anything is
// there yet, and the user's application-data folder.
//
// Contract:
// - Child(name) gives an item for that name inside this folder, existing or
//   not; nil when this item is not an existing folder, or when the name is
//   not a single entry name ("", ".", "..", or one holding "/").
// - CreateAsFolder and Delete never raise: each sets LastErrorCode to 0 on
//   success or to the errno of the failure. Delete removes a file (a link
//   itself, never what it points to) or an empty folder, never a folder's
//   contents. The streams opened on an item set its LastErrorCode as well.
// - SpecialFolder::ApplicationData() is $XDG_CONFIG_HOME when it is set and
//   absolute, else $HOME/.config when HOME is not empty, else nil. A missing
//   folder is made (itself only, not its parents) with mode 0700.
#pragma once

#include <memory>
#include <string>

#include "platform/object.h"

class TextOutputStream;
class TextInputStream;

class FolderItem : public Object {
 public:
  explicit FolderItem(std::string nativePath);

  std::shared_ptr<FolderItem> Child(const std::string& name) const;
  bool Exists() const;
  bool IsFolder() const;
  // Made with mode 0777 less the umask, like any folder.
  void CreateAsFolder();
  void Delete();
  const std::string& NativePath() const { return path_; }
  // The errno of the last failed operation on this item, 0 after a success.
  int LastErrorCode() const { return lastError_; }

 private:
  friend class TextOutputStream;
  friend class TextInputStream;

  std::string path_;
  int lastError_ = 0;
};

class SpecialFolder {
 public:
  static std::shared_ptr<FolderItem> ApplicationData();
};
