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
// - RequireFolder and SetAside raise IOException naming the path and the
//   errno text, with the errno as ErrorNumber and LastErrorCode.
// - CreateAsFolderWithParents makes the folder and each missing one above
//   it, mode 0700 (less the umask): the place of private data. It never
//   raises; RequireFolder then reports a failed making by the item's path.
// - SpecialFolder::ApplicationData() is $XDG_CONFIG_HOME when it is set and
//   absolute, else $HOME/.config when HOME is not empty, else the home
//   folder of the password database's entry for this user plus "/.config",
//   else nil. It only names the folder: nothing is made, whether it exists
//   or not.
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
  // Something is at the path, links followed.
  bool Exists() const;
  bool IsFolder() const;
  // The item is a symbolic link, whether or not what it points to exists.
  bool IsAlias() const;
  // Made with mode 0777 less the umask, like any folder.
  void CreateAsFolder();
  // Made with each missing folder above it, all mode 0700 less the umask;
  // existing ones are left as they are. LastErrorCode is 0, or the errno of
  // the first making that failed (ENOTDIR where a file stands in the way).
  void CreateAsFolderWithParents();
  void Delete();
  // Raises unless the item is an existing folder (a link to one counts):
  // "cannot use folder P: Not a directory" when something else is there,
  // else "cannot make folder P: <why>" with the errno of the last failed
  // making of it (ENOENT when none was tried). Makes nothing itself.
  void RequireFolder();
  // Moves whatever is at the path (a link as the link, never what it points
  // to) to a new name beside it, "<name>.<label>-YYYYMMDD-HHMMSS" in local
  // time, with "-2", "-3", ... added when that name is taken: nothing is
  // ever replaced. Gives the moved item, or nil when nothing is at the path.
  std::shared_ptr<FolderItem> SetAside(const std::string& label);
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
