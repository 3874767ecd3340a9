#include "platform/textstream.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <random>
#include <system_error>
#include <utility>

namespace {

std::string ErrorText(int error) { return std::generic_category().message(error); }

IOException MakeError(const char* what, const std::string& path, int error) {
  return IOException(std::string("cannot ") + what + " " + path + ": " + ErrorText(error), error);
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "of an unknown kind";
}

// What is there is no file to read or replace: EISDIR for a folder, as the
// system would say, EINVAL for the rest.
int NotRegularError(mode_t mode) { return S_ISDIR(mode) ? EISDIR : EINVAL; }

IOException NotRegular(const char* what, const std::string& path, mode_t mode) {
  return IOException(
      std::string("cannot ") + what + " " + path + ": not a regular file (" + KindOf(mode) + ")",
      NotRegularError(mode));
}

IOException TooLarge(const char* what, const std::string& path, const std::string& detail) {
  return IOException(
      std::string("cannot ") + what + " " + path + ": " + ErrorText(EFBIG) + " (" + detail + ")", EFBIG);
}

bool IsSuffixChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A save's temporary file: "." + the target's name + ".saving-" + six letters
// or digits. Hidden and with a fixed word in it, so that no name a person
// gives a file (a backup "ORVANDE.json.original", say) ever has this shape.
constexpr const char* kTemporaryWord = ".saving-";
constexpr std::size_t kSuffixLength = 6;

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TemporaryHead(const std::string& name) { return "." + name + kTemporaryWord; }

bool IsTemporaryOf(const std::string& entry, const std::string& name) {
  const std::string head = TemporaryHead(name);
  return entry.size() == head.size() + kSuffixLength && entry.compare(0, head.size(), head) == 0 &&
         std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(head.size()), entry.end(), IsSuffixChar);
}

// A link is followed, so that the file it points to is replaced and the
// link itself stays.
std::string ResolvedTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string resolved = real;
  std::free(real);
  return resolved;
}

std::string UniqueSuffix(std::mt19937& random) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<int> pick(0, sizeof alphabet - 2);
  std::string suffix;
  for (std::size_t i = 0; i < kSuffixLength; ++i) suffix += alphabet[pick(random)];
  return suffix;
}

}  // namespace

// TextOutputStream

TextOutputStream::TextOutputStream(std::shared_ptr<FolderItem> file, std::string target, std::string temp,
                                   int fd)
    : file_(std::move(file)), target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {}

std::shared_ptr<TextOutputStream> TextOutputStream::Create(const std::shared_ptr<FolderItem>& file) {
  FolderItem& item = Use(file, "folder item");
  const std::string& path = item.NativePath();
  auto fail = [&](int error) -> IOException {
    item.lastError_ = error;
    return MakeError("create", path, error);
  };

  // The file is replaced only where it could have been written in place, so
  // the errors stay those of opening it for writing.
  std::string target = ResolvedTarget(path);
  struct stat previous;
  bool replacing = ::stat(target.c_str(), &previous) == 0;
  if (replacing) {
    if (!S_ISREG(previous.st_mode)) {
      item.lastError_ = NotRegularError(previous.st_mode);
      throw NotRegular("create", path, previous.st_mode);
    }
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) throw fail(errno);
  }

  // A replaced file's mode is set exactly below; a new one gets the usual
  // mode through the umask.
  std::random_device seed;
  std::mt19937 random(seed());
  const std::string tempHead = FolderOf(target) + "/" + TemporaryHead(NameOf(target));
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = tempHead + UniqueSuffix(random);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw fail(errno);
  if (replacing && ::fchmod(fd, previous.st_mode & 07777) != 0) {
    int error = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    throw fail(error);
  }

  item.lastError_ = 0;
  return std::shared_ptr<TextOutputStream>(
      new TextOutputStream(file, std::move(target), std::move(temp), fd));
}

TextOutputStream::~TextOutputStream() { Discard(); }

void TextOutputStream::Discard() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void TextOutputStream::Fail(const char* what, int error) {
  Discard();
  failed_ = error;
  file_->lastError_ = error;
  throw MakeError(what, file_->NativePath(), error);
}

void TextOutputStream::Write(const std::string& text) {
  if (failed_) throw MakeError("write", file_->NativePath(), failed_);
  if (fd_ < 0) throw MakeError("write", file_->NativePath(), EBADF);
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("write", errno);
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

void TextOutputStream::Close() {
  if (failed_) throw MakeError("save", file_->NativePath(), failed_);
  if (fd_ < 0) return;
  if (::fsync(fd_) != 0) Fail("save", errno);
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("save", errno);
  if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail("save", errno);
  temp_.clear();
  // Makes the rename itself durable; the new text is in place either way.
  int folder = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  file_->lastError_ = 0;
}

int TextOutputStream::RemoveLeftovers(const std::shared_ptr<FolderItem>& file) {
  if (!file) return 0;
  // Where Create puts them: beside the file a link points to.
  const std::string target = ResolvedTarget(file->NativePath());
  const std::string name = NameOf(target);
  if (name.empty()) return 0;
  DIR* folder = ::opendir(FolderOf(target).c_str());
  if (!folder) return 0;
  const std::time_t now = std::time(nullptr);
  int removed = 0;
  while (dirent* entry = ::readdir(folder)) {
    if (!IsTemporaryOf(entry->d_name, name)) continue;
    // A younger one may be another launcher's save under way.
    struct stat st;
    if (::fstatat(::dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        now - st.st_mtime <= kStaleSeconds) {
      continue;
    }
    if (::unlinkat(::dirfd(folder), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(folder);
  return removed;
}

// TextInputStream

TextInputStream::TextInputStream(std::shared_ptr<FolderItem> file, int fd)
    : file_(std::move(file)), fd_(fd) {}

std::shared_ptr<TextInputStream> TextInputStream::Open(const std::shared_ptr<FolderItem>& file) {
  FolderItem& item = Use(file, "folder item");
  const std::string& path = item.NativePath();
  // What is there is looked at before it is opened, so that nothing but a
  // regular file is ever opened (opening a FIFO or a device can have
  // effects of its own); the open itself never waits, and what was opened
  // is looked at again.
  struct stat st;
  int fd = -1;
  int error = ::stat(path.c_str(), &st) == 0 ? 0 : errno;
  if (!error && S_ISREG(st.st_mode) && st.st_size <= kMaxSize) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) error = errno;
    if (fd >= 0 && ::fstat(fd, &st) != 0) error = errno;
  }
  if (!error && S_ISREG(st.st_mode) && st.st_size <= kMaxSize) {
    // Back to plain reads; a regular file never waits anyway.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    item.lastError_ = 0;
    return std::shared_ptr<TextInputStream>(new TextInputStream(file, fd));
  }
  if (fd >= 0) ::close(fd);
  if (error) {
    item.lastError_ = error;
    throw MakeError("open", path, error);
  }
  if (!S_ISREG(st.st_mode)) {
    item.lastError_ = NotRegularError(st.st_mode);
    throw NotRegular("open", path, st.st_mode);
  }
  item.lastError_ = EFBIG;
  throw TooLarge("open", path,
                 std::to_string(st.st_size) + " bytes; at most " + std::to_string(kMaxSize) + " are read");
}

TextInputStream::~TextInputStream() { Close(); }

std::string TextInputStream::ReadAll() {
  if (fd_ < 0) throw MakeError("read", file_->NativePath(), EBADF);
  std::string text;
  char buffer[65536];
  for (;;) {
    // One byte past the limit at most, to learn that there is more.
    const long long room = kMaxSize + 1 - read_;
    ssize_t n = ::read(fd_, buffer, static_cast<std::size_t>(std::min<long long>(sizeof buffer, room)));
    if (n == 0) return text;
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      file_->lastError_ = error;
      throw MakeError("read", file_->NativePath(), error);
    }
    read_ += n;
    if (read_ > kMaxSize) {
      file_->lastError_ = EFBIG;
      throw TooLarge("read", file_->NativePath(),
                     "grew past " + std::to_string(kMaxSize) + " bytes, the most that is read");
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

void TextInputStream::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
