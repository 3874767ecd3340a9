#include "platform/folderitem.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <utility>
#include <vector>

namespace {

bool IsEntryName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

IOException MakeError(const std::string& what, const std::string& path, int error) {
  return IOException("cannot " + what + " " + path + ": " + std::generic_category().message(error), error);
}

// The home folder of this user's entry in the password database, as desktop
// programs take it when HOME is unset; empty when there is none.
std::string PasswordDatabaseHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (!found || !found->pw_dir || found->pw_dir[0] != '/') return {};
  return found->pw_dir;
}

// Makes the folder and its missing parents, each with mode 0700 (less the
// umask). Gives 0, or the errno of the first making that failed.
int MakeFolderChain(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty() && prefix.back() != '/') {
      // Only what is missing is made: an existing folder is left as it is,
      // even where mkdir would fail for another reason first.
      if (::stat(prefix.c_str(), &st) != 0) {
        if (errno != ENOENT) return errno;
        // One made meanwhile by someone else is as good as ours.
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return errno;
        if (::stat(prefix.c_str(), &st) != 0) return errno;
      }
      if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    }
    if (end == std::string::npos) return 0;
  }
}

std::string Stamp() {
  std::time_t now = std::time(nullptr);
  struct tm local;
  char text[32] = "";
  if (::localtime_r(&now, &local)) std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

// Renames without replacing: 0, or the errno (EEXIST when the name is taken).
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // A file system without the flag: test, then rename.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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

bool FolderItem::IsAlias() const {
  struct stat st;
  return ::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void FolderItem::CreateAsFolder() { lastError_ = ::mkdir(path_.c_str(), 0777) == 0 ? 0 : errno; }

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

void FolderItem::CreateAsFolderWithParents() { lastError_ = MakeFolderChain(path_); }

void FolderItem::RequireFolder() {
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return;
    lastError_ = ENOTDIR;
    throw MakeError("use folder", path_, ENOTDIR);
  }
  int error = errno;
  if (lastError_ != 0) error = lastError_;
  lastError_ = error;
  throw MakeError("make folder", path_, error);
}

std::shared_ptr<FolderItem> FolderItem::SetAside(const std::string& label) {
  struct stat st;
  if (::lstat(path_.c_str(), &st) != 0) {
    if (errno == ENOENT) {
      lastError_ = 0;
      return nullptr;
    }
    lastError_ = errno;
    throw MakeError("set aside", path_, lastError_);
  }
  const std::string base = path_ + "." + label + "-" + Stamp();
  int error = EEXIST;
  for (int n = 1; n <= 1000 && error == EEXIST; ++n) {
    std::string aside = n == 1 ? base : base + "-" + std::to_string(n);
    error = RenameNoReplace(path_, aside);
    if (error == 0) {
      lastError_ = 0;
      return std::make_shared<FolderItem>(std::move(aside));
    }
  }
  lastError_ = error;
  throw MakeError("set aside", path_, error);
}

std::shared_ptr<FolderItem> SpecialFolder::ApplicationData() {
  std::string path;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && xdg[0] == '/') {
    path = xdg;
  } else {
    path = home && home[0] != '\0' ? std::string(home) : PasswordDatabaseHome();
    if (path.empty()) return nullptr;
    if (path.back() != '/') path += '/';
    path += ".config";
  }
  // Only named here: what is missing is made by a save that needs it, so
  // that opening the window or a Reset makes nothing.
  return std::make_shared<FolderItem>(path);
}
