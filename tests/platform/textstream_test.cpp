#include "platform/textstream.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/posix_support.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// A seam in this test binary only: it is linked with --wrap for fsync,
// fdatasync, rename and open (tests/CMakeLists.txt), so every such call of
// the streams passes through here on its way to the real one. A test can
// note what a save does, in order, or have the next opening of a path find a
// FIFO there, put in after the stream looked at the path.
namespace seam {

std::mutex mutex;
std::vector<std::string>* noted = nullptr;  // guarded by mutex
std::atomic<const char*> fifoAtOpen{nullptr};
std::atomic<bool> swapped{false};

std::string PathOf(int fd) {
  char buffer[4096];
  ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "fd " + std::to_string(fd);
}

void Note(const std::string& call) {
  std::lock_guard<std::mutex> lock(mutex);
  if (noted) noted->push_back(call);
}

// Notes the calls while it lives.
class Noting {
 public:
  explicit Noting(std::vector<std::string>& calls) {
    std::lock_guard<std::mutex> lock(mutex);
    noted = &calls;
  }
  ~Noting() {
    std::lock_guard<std::mutex> lock(mutex);
    noted = nullptr;
  }
};

}  // namespace seam

extern "C" {
int __real_fsync(int fd);
int __real_fdatasync(int fd);
int __real_rename(const char* from, const char* to);
int __real_open(const char* path, int flags, ...);

int __wrap_fsync(int fd) {
  seam::Note("sync " + seam::PathOf(fd));
  return __real_fsync(fd);
}

int __wrap_fdatasync(int fd) {
  seam::Note("sync " + seam::PathOf(fd));
  return __real_fdatasync(fd);
}

int __wrap_rename(const char* from, const char* to) {
  seam::Note(std::string("rename ") + from + " " + to);
  return __real_rename(from, to);
}

int __wrap_open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  const char* swap = seam::fifoAtOpen.load();
  if (swap && std::strcmp(swap, path) == 0 && seam::fifoAtOpen.compare_exchange_strong(swap, nullptr)) {
    seam::swapped = ::unlink(path) == 0 && ::mkfifo(path, 0600) == 0;
  }
  return __real_open(path, flags, mode);
}
}

namespace {

using testsupport::kNobody;
using testsupport::ModeOf;

const std::string kPrevious = "{\"ipaddress\":\"10.0.0.7\",\"port\":\"38008\"}";

// ".ORVANDE.json.saving-" and six letters or digits: a name no person gives.
bool IsTemporaryName(const std::string& name, const std::string& target = "ORVANDE.json") {
  const std::string head = "." + target + ".saving-";
  return name.size() == head.size() + 6 && name.rfind(head, 0) == 0 &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(head.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The close-on-exec flag of this process's descriptor open on the path, or
// -1 when none is.
int CloseOnExecOf(const fs::path& path) {
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    fs::path target = fs::read_symlink(e.path(), ec);
    if (ec || target != path) continue;
    int flags = ::fcntl(std::stoi(e.path().filename().string()), F_GETFD);
    return (flags & FD_CLOEXEC) ? 1 : 0;
  }
  return -1;
}

std::string Describe(const IOException& e, const FolderItem& item) {
  return std::to_string(e.ErrorNumber) + " " + std::to_string(item.LastErrorCode()) + " " + e.Message;
}

// A settings folder with a file in it.
class TextStream : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(folder);
    item = std::make_shared<FolderItem>(target.string());
  }
  void WritePrevious(unsigned mode = 0644) {
    WriteFile(target, kPrevious);
    fs::permissions(target, static_cast<fs::perms>(mode));
  }
  std::string Save(const std::string& text) {
    auto out = TextOutputStream::Create(item);
    out->Write(text);
    out->Close();
    return ReadFile(target);
  }

  TempDir dir;
  fs::path folder = dir.path() / "ORVANDE";
  fs::path target = folder / "ORVANDE.json";
  std::shared_ptr<FolderItem> item;
};

}  // namespace

TEST_F(TextStream, NewFileHoldsExactlyWhatWasWrittenWithTheUsualMode) {
  ::umask(027);
  auto out = TextOutputStream::Create(item);
  out->Write("{\"port\":");
  out->Write("\"38008\"}");
  out->Close();
  out->Close();  // a second Close does nothing
  EXPECT_EQ(ReadFile(target), "{\"port\":\"38008\"}");
  EXPECT_EQ(ModeOf(target), 0640u);
  EXPECT_EQ(item->LastErrorCode(), 0);
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"ORVANDE.json"});
}

TEST_F(TextStream, ReplacementKeepsOnlyTheNewTextAndThePermissionBits) {
  // A mode that neither the umask nor a fresh private file would give.
  ::umask(077);
  WritePrevious(0640);
  EXPECT_EQ(Save("{}"), "{}");
  EXPECT_EQ(ModeOf(target), 0640u);
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"ORVANDE.json"});
}

TEST_F(TextStream, LongBinaryTextRoundTrips) {
  std::string text;
  for (int i = 0; i < TextInputStream::kMaxSize; ++i) text += static_cast<char>((i * 7 + i / 251) & 0xff);
  Save(text);
  auto in = TextInputStream::Open(item);
  EXPECT_EQ(in->ReadAll(), text);
  EXPECT_EQ(in->ReadAll(), "");
  in->Close();
  EXPECT_THROW(in->ReadAll(), IOException);
}

TEST_F(TextStream, WritesBesideTheTargetUntilClosed) {
  WritePrevious();
  auto out = TextOutputStream::Create(item);
  out->Write("new");

  auto names = Entries(folder);
  ASSERT_EQ(names.size(), 2u);
  ASSERT_EQ(names[1], "ORVANDE.json");
  const std::string& temp = names[0];
  EXPECT_TRUE(IsTemporaryName(temp)) << temp;
  EXPECT_EQ(ReadFile(target), kPrevious);
  EXPECT_EQ(CloseOnExecOf(folder / temp), 1);

  out->Close();
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"ORVANDE.json"});
}

TEST_F(TextStream, InputDescriptorIsCloseOnExec) {
  WritePrevious();
  auto in = TextInputStream::Open(item);
  EXPECT_EQ(CloseOnExecOf(target), 1);
  in->Close();
  EXPECT_EQ(CloseOnExecOf(target), -1);
}

TEST_F(TextStream, StreamDroppedWithoutCloseLeavesTheTargetAsItWas) {
  for (bool existed : {true, false}) {
    SCOPED_TRACE(existed ? "target existed" : "no target");
    fs::remove(target);
    if (existed) WritePrevious();
    {
      auto out = TextOutputStream::Create(item);
      out->Write("half a settings te");
    }
    EXPECT_EQ(fs::exists(target), existed);
    if (existed) {
      EXPECT_EQ(ReadFile(target), kPrevious);
    }
    EXPECT_EQ(Entries(folder).size(), existed ? 1u : 0u);
  }
}

TEST_F(TextStream, LinkedTargetIsReplacedThroughTheLink) {
  fs::path real = dir.path() / "dotfiles.json";
  WriteFile(real, kPrevious);
  fs::create_symlink(real, target);
  {
    // The temporary file stands beside the file that is replaced.
    auto out = TextOutputStream::Create(item);
    auto names = Entries(dir.path());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_TRUE(IsTemporaryName(names[0], "dotfiles.json")) << names[0];
  }
  Save("new");
  EXPECT_TRUE(fs::is_symlink(target));
  EXPECT_EQ(ReadFile(real), "new");
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"ORVANDE", "dotfiles.json"}));
}

TEST_F(TextStream, WriteAfterCloseRaises) {
  auto out = TextOutputStream::Create(item);
  out->Write("done");
  out->Close();
  EXPECT_THROW(out->Write("more"), IOException);
  EXPECT_EQ(ReadFile(target), "done");
}

TEST_F(TextStream, NilItemRaisesNilObjectException) {
  EXPECT_THROW(TextOutputStream::Create(nullptr), NilObjectException);
  EXPECT_THROW(TextInputStream::Open(nullptr), NilObjectException);
}

// Files that cannot be made or opened, as any user.

struct OpenFailure {
  const char* what;
  bool output;
  const char* relativePath;  // under the test's folder
  int error;
  const char* reason = nullptr;  // after the path; nullptr: the errno text
};

class TextStreamOpenFailure : public TextStream, public testing::WithParamInterface<OpenFailure> {};

TEST_P(TextStreamOpenFailure, RaisesIOExceptionWithTheErrnoOnTheItem) {
  const OpenFailure& c = GetParam();
  fs::create_directory(folder / "AFolder");
  auto file = std::make_shared<FolderItem>((folder / c.relativePath).string());
  std::string verb = c.output ? "create" : "open";
  try {
    if (c.output) {
      TextOutputStream::Create(file);
    } else {
      TextInputStream::Open(file);
    }
    FAIL() << "no exception";
  } catch (const IOException& e) {
    EXPECT_EQ(Describe(e, *file), std::to_string(c.error) + " " + std::to_string(c.error) + " cannot " +
                                      verb + " " + file->NativePath() + ": " +
                                      (c.reason ? c.reason : std::generic_category().message(c.error)));
  }
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"AFolder"});

  // A later success clears the item's error.
  auto good = std::make_shared<FolderItem>(target.string());
  WritePrevious();
  file = good;
  if (c.output) {
    TextOutputStream::Create(file);
  } else {
    TextInputStream::Open(file);
  }
  EXPECT_EQ(file->LastErrorCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextStreamOpenFailure,
    testing::Values(OpenFailure{"CreateInMissingFolder", true, "missing/ORVANDE.json", ENOENT},
                    OpenFailure{"CreateOverAFolder", true, "AFolder", EISDIR,
                                "not a regular file (a folder)"},
                    OpenFailure{"OpenMissingFile", false, "ORVANDE.json", ENOENT},
                    OpenFailure{"OpenMissingFolder", false, "missing/ORVANDE.json", ENOENT},
                    OpenFailure{"OpenAFolder", false, "AFolder", EISDIR, "not a regular file (a folder)"}),
    [](const auto& info) { return std::string(info.param.what); });

// Permission denied. Root passes every permission check, so the stream runs
// in a child that has become user nobody, over a folder nobody owns.

struct PermissionCase {
  const char* what;
  unsigned folderMode;
  unsigned fileMode;
  bool denied;
};

class TextStreamPermission : public TextStream, public testing::WithParamInterface<PermissionCase> {};

TEST_P(TextStreamPermission, DeniedCreateLeavesThePreviousFileUntouched) {
  const PermissionCase& c = GetParam();
  WritePrevious(c.fileMode);
  if (::geteuid() == 0) {
    fs::permissions(dir.path(), static_cast<fs::perms>(0755));
    ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
  }
  fs::permissions(folder, static_cast<fs::perms>(c.folderMode));

  testsupport::ChildRun result = testsupport::RunInChild(
      [this] {
        try {
          auto out = TextOutputStream::Create(item);
          out->Write("new");
          out->Close();
          return std::string("saved");
        } catch (const IOException& e) {
          return Describe(e, *item);
        }
      },
      true);
  if (result.skipped) GTEST_SKIP() << "cannot become user nobody";

  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"ORVANDE.json"});
  if (!c.denied) {
    EXPECT_EQ(result.output, "saved");
    EXPECT_EQ(ReadFile(target), "new");
    return;
  }
  EXPECT_EQ(result.output, "13 13 cannot create " + target.string() + ": Permission denied");
  EXPECT_EQ(ReadFile(target), kPrevious);
  EXPECT_EQ(ModeOf(target), c.fileMode);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextStreamPermission,
                         testing::Values(PermissionCase{"FolderNotWritable", 0555, 0644, true},
                                         PermissionCase{"FileReadOnly", 0755, 0444, true},
                                         PermissionCase{"BothWritable", 0755, 0644, false}),
                         [](const auto& info) { return std::string(info.param.what); });

// A write that fails part-way: a file-size limit in a child, with SIGXFSZ
// ignored so that write() reports EFBIG after the first few kilobytes.

class TextStreamPartWrite : public TextStream, public testing::WithParamInterface<bool> {};

TEST_P(TextStreamPartWrite, LeavesThePreviousFileByteForByte) {
  const bool closeAfterFailure = GetParam();
  WritePrevious();
  testsupport::ChildRun result = testsupport::RunInChild(
      [this, closeAfterFailure] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
        auto out = TextOutputStream::Create(item);
        std::string outcome;
        try {
          out->Write(std::string(100000, 'x'));
          return std::string("write succeeded");
        } catch (const IOException& e) {
          outcome = Describe(e, *item);
        }
        if (closeAfterFailure) {
          try {
            out->Close();
            outcome += " / closed";
          } catch (const IOException& e) {
            outcome += " / " + std::to_string(e.ErrorNumber);
          }
        }
        return outcome;
      },
      false);

  std::string expected = "27 27 cannot write " + target.string() + ": File too large";
  if (closeAfterFailure) expected += " / 27";
  EXPECT_EQ(result.output, expected);
  EXPECT_EQ(ReadFile(target), kPrevious);
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"ORVANDE.json"});
}

INSTANTIATE_TEST_SUITE_P(Cases, TextStreamPartWrite, testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "ClosedAfterFailure" : "Dropped");
});

// Hostile things at the path: opening neither waits (a FIFO with no writer
// would hold a blocking open for ever) nor reads, and raises naming the path.
// Each opening runs in a child under an alarm, so a hang fails the test
// instead of holding it.

enum class Hostile { Fifo, LinkToFifo, LinkToDevZero, Folder, LinkToFolder, Socket };

struct HostileCase {
  const char* what;
  Hostile kind;
  int error;
  const char* kind_text;
};

class TextStreamHostileOpen : public TextStream, public testing::WithParamInterface<HostileCase> {};

TEST_P(TextStreamHostileOpen, RaisesAtOnceThatItIsNotARegularFile) {
  const HostileCase& c = GetParam();
  fs::path elsewhere = dir.path() / "elsewhere";
  switch (c.kind) {
    case Hostile::Fifo:
      ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
      break;
    case Hostile::LinkToFifo:
      ASSERT_EQ(::mkfifo(elsewhere.c_str(), 0600), 0);
      fs::create_symlink(elsewhere, target);
      break;
    case Hostile::LinkToDevZero:
      fs::create_symlink("/dev/zero", target);
      break;
    case Hostile::Folder:
      fs::create_directory(target);
      break;
    case Hostile::LinkToFolder:
      fs::create_directory(elsewhere);
      fs::create_directory_symlink(elsewhere, target);
      break;
    case Hostile::Socket: {
      int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      ASSERT_GE(fd, 0);
      struct sockaddr_un address {};
      address.sun_family = AF_UNIX;
      ASSERT_LT(target.string().size(), sizeof address.sun_path);
      std::strcpy(address.sun_path, target.c_str());
      ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      ::close(fd);
      break;
    }
  }
  testsupport::ChildRun result = testsupport::RunInChild(
      [this] {
        ::alarm(10);
        auto start = std::chrono::steady_clock::now();
        std::string outcome;
        try {
          TextInputStream::Open(item);
          outcome = "opened";
        } catch (const IOException& e) {
          outcome = Describe(e, *item);
        }
        auto took = std::chrono::steady_clock::now() - start;
        if (took > std::chrono::seconds(1)) outcome += " [took more than a second]";
        return outcome;
      },
      false);
  EXPECT_EQ(result.output, std::to_string(c.error) + " " + std::to_string(c.error) + " cannot open " +
                               target.string() + ": not a regular file (" + c.kind_text + ")");
  // Nothing was changed at the path.
  EXPECT_TRUE(fs::exists(fs::symlink_status(target)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextStreamHostileOpen,
    testing::Values(HostileCase{"Fifo", Hostile::Fifo, EINVAL, "a FIFO"},
                    HostileCase{"LinkToFifo", Hostile::LinkToFifo, EINVAL, "a FIFO"},
                    HostileCase{"LinkToDevZero", Hostile::LinkToDevZero, EINVAL, "a character device"},
                    HostileCase{"Folder", Hostile::Folder, EISDIR, "a folder"},
                    HostileCase{"LinkToFolder", Hostile::LinkToFolder, EISDIR, "a folder"},
                    HostileCase{"Socket", Hostile::Socket, EINVAL, "a socket"}),
    [](const auto& info) { return std::string(info.param.what); });

// The size limit: a file over it is refused at the opening, before a byte is
// read; one at it reads whole.

TEST_F(TextStream, AFileAtTheLimitReadsWhole) {
  { std::ofstream out(target, std::ios::binary); }
  fs::resize_file(target, TextInputStream::kMaxSize);
  auto in = TextInputStream::Open(item);
  EXPECT_EQ(in->ReadAll().size(), static_cast<std::size_t>(TextInputStream::kMaxSize));
}

struct TooLargeCase {
  const char* what;
  long long size;
  char fill;  // '\0': a sparse file
};

class TextStreamTooLarge : public TextStream, public testing::WithParamInterface<TooLargeCase> {};

TEST_P(TextStreamTooLarge, RaisesAtTheOpeningNamingTheSize) {
  const TooLargeCase& c = GetParam();
  if (c.fill) {
    WriteFile(target, std::string(static_cast<std::size_t>(c.size), c.fill));
  } else {
    { std::ofstream out(target, std::ios::binary); }
    fs::resize_file(target, static_cast<std::uintmax_t>(c.size));
  }
  EXPECT_EQ(TextInputStream::kMaxSize, 1024LL * 1024) << "the limit the contract states";
  try {
    TextInputStream::Open(item);
    FAIL() << "no exception";
  } catch (const IOException& e) {
    EXPECT_EQ(Describe(e, *item), "27 27 cannot open " + target.string() + ": File too large (" +
                                      std::to_string(c.size) + " bytes; at most 1048576 are read)");
  }
  EXPECT_EQ(CloseOnExecOf(target), -1) << "the file was left open";
}

INSTANTIATE_TEST_SUITE_P(Cases, TextStreamTooLarge,
                         testing::Values(TooLargeCase{"OneByteOver", 1024LL * 1024 + 1, '\0'},
                                         TooLargeCase{"TwoMiB", 2LL * 1024 * 1024, '\0'},
                                         TooLargeCase{"TwoMBOfBrackets", 2000000, '['}),
                         [](const auto& info) { return std::string(info.param.what); });

// A file that grows after the opening: ReadAll stops one byte past the limit.
TEST_F(TextStream, ReadAllNeverReadsPastTheLimitOfAGrowingFile) {
  WriteFile(target, "{\"port\":");
  auto in = TextInputStream::Open(item);
  fs::resize_file(target, static_cast<std::uintmax_t>(TextInputStream::kMaxSize) * 4);
  try {
    in->ReadAll();
    FAIL() << "no exception";
  } catch (const IOException& e) {
    EXPECT_EQ(Describe(e, *item), "27 27 cannot read " + target.string() +
                                      ": File too large (grew past 1048576 bytes, the most that is read)");
  }
  // How far the descriptor got: the limit and the one byte that told.
  long long position = -1;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(e.path(), ec) != target) continue;
    std::string info = ReadFile("/proc/self/fdinfo/" + e.path().filename().string());
    position = std::atoll(info.c_str() + info.find("pos:") + 4);
  }
  EXPECT_EQ(position, TextInputStream::kMaxSize + 1);
}

// What is not a regular file is not replaced either, also at the end of a
// link (think of a link to /dev/null, replaced as root).

enum class NotAFile { Fifo, LinkToFifo, LinkToFolder };

class TextStreamCreateOverNonFile : public TextStream, public testing::WithParamInterface<NotAFile> {};

TEST_P(TextStreamCreateOverNonFile, RaisesAndLeavesItAsItWas) {
  fs::path elsewhere = dir.path() / "elsewhere";
  std::string kind = "a FIFO";
  int error = EINVAL;
  switch (GetParam()) {
    case NotAFile::Fifo:
      ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
      break;
    case NotAFile::LinkToFifo:
      ASSERT_EQ(::mkfifo(elsewhere.c_str(), 0600), 0);
      fs::create_symlink(elsewhere, target);
      break;
    case NotAFile::LinkToFolder:
      fs::create_directory(elsewhere);
      fs::create_directory_symlink(elsewhere, target);
      kind = "a folder";
      error = EISDIR;
      break;
  }
  try {
    TextOutputStream::Create(item);
    FAIL() << "no exception";
  } catch (const IOException& e) {
    EXPECT_EQ(Describe(e, *item), std::to_string(error) + " " + std::to_string(error) + " cannot create " +
                                      target.string() + ": not a regular file (" + kind + ")");
  }
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"ORVANDE.json"});
  if (GetParam() == NotAFile::Fifo) {
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(target)));
  } else {
    EXPECT_TRUE(fs::is_symlink(target));
  }
  if (GetParam() == NotAFile::LinkToFifo) {
    EXPECT_TRUE(fs::is_fifo(elsewhere));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TextStreamCreateOverNonFile,
                         testing::Values(NotAFile::Fifo, NotAFile::LinkToFifo, NotAFile::LinkToFolder),
                         [](const auto& info) {
                           switch (info.param) {
                             case NotAFile::Fifo:
                               return std::string("Fifo");
                             case NotAFile::LinkToFifo:
                               return std::string("LinkToFifo");
                             default:
                               return std::string("LinkToFolder");
                           }
                         });

// Leftover temporary files: only the stream's own shape, only regular files,
// only stale ones. Everything else beside the settings file is the user's.

namespace {

void Age(const fs::path& p, int seconds) {
  struct timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

enum class Made { File, Folder, Link };

struct Beside {
  const char* name;
  int age;  // seconds since it was last written
  Made made;
  bool removed;
};

constexpr int kHours = 3 * 3600;

const Beside kBeside[] = {
    // A save that a kill ended.
    {".ORVANDE.json.saving-Ab12Cd", kHours, Made::File, true},
    {".ORVANDE.json.saving-zzzzzz", 61, Made::File, true},
    // Another save under way.
    {".ORVANDE.json.saving-Young1", 5, Made::File, false},
    {".ORVANDE.json.saving-Young2", 30, Made::File, false},
    // Near the shape, but not it.
    {".ORVANDE.json.saving-Abc12", kHours, Made::File, false},
    {".ORVANDE.json.saving-Abc1234", kHours, Made::File, false},
    {".ORVANDE.json.saving-Ab-12C", kHours, Made::File, false},
    {".ORVANDE.json.Saving-Ab12Cd", kHours, Made::File, false},
    {"ORVANDE.json.saving-Ab12Cd", kHours, Made::File, false},
    {".OTHER.json.saving-Ab12Cd", kHours, Made::File, false},
    {".ORVANDE.json.saving-Fold12", kHours, Made::Folder, false},
    {".ORVANDE.json.saving-Link12", kHours, Made::Link, false},
    // The user's own files.
    {"ORVANDE.json.original", kHours, Made::File, false},
    {"ORVANDE.json.20240115", kHours, Made::File, false},
    {"ORVANDE.json.bak", kHours, Made::File, false},
    {"ORVANDE.json.12345678", kHours, Made::File, false},
    {"ORVANDE.json.AbCd0123", kHours, Made::File, false},
    {"ORVANDE.json.unreadable-20261210-143205", kHours, Made::File, false},
    {"notes.txt", kHours, Made::File, false},
    {"old settings", kHours, Made::Folder, false},
};

}  // namespace

TEST_F(TextStream, RemoveLeftoversTakesOnlyTheStreamsOwnStaleTemporaries) {
  WritePrevious();
  for (const auto& e : kBeside) {
    const fs::path p = folder / e.name;
    switch (e.made) {
      case Made::File:
        WriteFile(p, std::string("mine: ") + e.name);
        break;
      case Made::Folder:
        fs::create_directory(p);
        WriteFile(p / "inside", "mine");
        break;
      case Made::Link:
        fs::create_symlink(target, p);
        break;
    }
    Age(p, e.age);
  }
  int expected = 0;
  for (const auto& e : kBeside) expected += e.removed;
  EXPECT_EQ(TextOutputStream::RemoveLeftovers(item), expected);
  for (const auto& e : kBeside) {
    const fs::path p = folder / e.name;
    EXPECT_EQ(fs::exists(fs::symlink_status(p)), !e.removed) << e.name;
    if (e.removed) continue;
    switch (e.made) {
      case Made::File:
        EXPECT_EQ(ReadFile(p), std::string("mine: ") + e.name) << e.name;
        break;
      case Made::Folder:
        EXPECT_EQ(ReadFile(p / "inside"), "mine") << e.name;
        break;
      case Made::Link:
        EXPECT_EQ(fs::read_symlink(p), target) << e.name;
        break;
    }
  }
  EXPECT_EQ(ReadFile(target), kPrevious);

  EXPECT_EQ(TextOutputStream::RemoveLeftovers(nullptr), 0);
  auto missing = std::make_shared<FolderItem>((dir.path() / "missing" / "ORVANDE.json").string());
  EXPECT_EQ(TextOutputStream::RemoveLeftovers(missing), 0);
}

// Through a link, the temporaries are beside the file it points to, and
// that is where the stale ones are removed.
TEST_F(TextStream, RemoveLeftoversLooksBesideTheFileALinkPointsTo) {
  const fs::path real = dir.path() / "dotfiles.json";
  WriteFile(real, kPrevious);
  fs::create_symlink(real, target);
  const fs::path stale = dir.path() / ".dotfiles.json.saving-Ab12Cd";
  const fs::path young = dir.path() / ".dotfiles.json.saving-Young1";
  const fs::path mine = dir.path() / "dotfiles.json.20240115";
  for (const auto& p : {stale, young, mine}) WriteFile(p, "half");
  Age(stale, kHours);
  Age(mine, kHours);
  EXPECT_EQ(TextOutputStream::RemoveLeftovers(item), 1);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(young));
  EXPECT_EQ(ReadFile(mine), "half");
  EXPECT_EQ(ReadFile(real), kPrevious);
}

// --- What a save does on disk, in order, seen through the seam ---------------

// Only what is on disk may take the target's name: the temporary file is
// synced before the rename, and the folder after it. A rename first would
// let a crash leave the target empty or half written.
TEST_F(TextStream, SaveSyncsTheTemporaryBeforeTheRenameAndTheFolderAfter) {
  for (bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "replacing a file" : "a new file");
    fs::remove(target);
    if (existed) WritePrevious();
    std::vector<std::string> calls;
    {
      seam::Noting noting(calls);
      auto out = TextOutputStream::Create(item);
      out->Write("new");
      out->Close();
    }
    EXPECT_EQ(ReadFile(target), "new");
    const std::string described = testing::PrintToString(calls);
    ASSERT_EQ(calls.size(), 3u) << described;
    const std::string head = "rename " + folder.string() + "/";
    const std::string tail = " " + target.string();
    ASSERT_EQ(calls[1].rfind(head, 0), 0u) << described;
    ASSERT_GT(calls[1].size(), head.size() + tail.size()) << described;
    const std::string temp = calls[1].substr(7, calls[1].size() - 7 - tail.size());
    EXPECT_TRUE(IsTemporaryName(fs::path(temp).filename().string())) << described;
    EXPECT_EQ(calls,
              (std::vector<std::string>{"sync " + temp, "rename " + temp + tail, "sync " + folder.string()}));
  }
}

// The path is looked at, then opened. A FIFO put there in between (here by
// the seam, just before the open) is found when what was opened is looked
// at: the opening waits for no writer and raises at once. In a child under
// an alarm, so that an opening that waits fails the test instead of holding
// it.
TEST_F(TextStream, AFifoSwappedInAfterTheCheckIsRefusedWithoutWaiting) {
  WritePrevious();
  const std::string path = target.string();
  testsupport::ChildRun result = testsupport::RunInChild(
      [this, &path] {
        ::alarm(5);
        seam::fifoAtOpen = path.c_str();
        const auto start = std::chrono::steady_clock::now();
        std::string outcome;
        try {
          TextInputStream::Open(item);
          outcome = "opened";
        } catch (const IOException& e) {
          outcome = Describe(e, *item);
        }
        if (!seam::swapped) outcome += " [no FIFO was swapped in]";
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(1)) {
          outcome += " [took more than a second]";
        }
        return outcome;
      },
      false);
  EXPECT_EQ(result.output, "22 22 cannot open " + path + ": not a regular file (a FIFO)");
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(target)));
}
