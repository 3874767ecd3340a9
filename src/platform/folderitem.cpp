#include "platform/folderitem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace {

bool IsEntryName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

FolderItem::FolderItem(std::string nativePath) : path_(std::move(nativePath)) {}

std::shared_ptr<FolderItem> FolderItem::Child(const std::string& name) const {
  if (!IsEntryName(name) || !IsFolder()) return nullptr;
  std::string path = path_;
  if (path.empty() || path.back() != '/') path += '/';
  return std::make_shared<FolderItem>(path + name);
}

bool FolderItem::Exists() const {
  struct stat st;
  return ::stat(path_.c_str(), &st) == 0;
}

bool FolderItem::IsFolder() const {
  struct stat st;
  return ::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void FolderItem::CreateAsFolder() {
  lastError_ = ::mkdir(path_.c_str(), 0777) == 0 ? 0 : errno;
}

void FolderItem::Delete() {
  // lstat, so that a link to a folder is unlinked and its folder stays.
  struct stat st;
  if (::lstat(path_.c_str(), &st) != 0) {
    lastError_ = errno;
    return;
  }
  int rc = S_ISDIR(st.st_mode) ? ::rmdir(path_.c_str()) : ::unlink(path_.c_str());
  lastError_ = rc == 0 ? 0 : errno;
}

std::shared_ptr<FolderItem> SpecialFolder::ApplicationData() {
  std::string path;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && xdg[0] == '/') {
    path = xdg;
  } else if (home && home[0] != '\0') {
    path = home;
    if (path.back() != '/') path += '/';
    path += ".config";
  } else {
    return nullptr;
  }
  // The folder holds the user's settings: private to the user when made
  // here. One that exists keeps its mode.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) ::mkdir(path.c_str(), 0700);
  return std::make_shared<FolderItem>(path);
}
