#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/textstream.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr uid_t kNobody = 65534;
const std::string kPrevious = "{\"ipaddress\":\"10.0.0.7\",\"port\":\"38008\"}";

unsigned ModeOf(const fs::path& p) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return ~0u;
  return st.st_mode & 07777;
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
  return std::to_string(e.ErrorNumber) + " " + std::to_string(item.LastErrorCode()) + " " +
         e.Message;
}

// Runs body in a forked child, as user nobody when unprivileged is set and
// this process is root, and gives what the body returned. The child always
// ends before this returns.
struct ChildResult {
  bool skipped = false;
  std::string output;
};

ChildResult RunInChild(const std::function<std::string()>& body, bool unprivileged) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {false, "pipe failed"};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string out;
    if (unprivileged && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(77);
    }
    try {
      out = body();
    } catch (const RuntimeException& e) {
      out = "unexpected " + DescribeException(e);
    } catch (...) {
      out = "unexpected exception";
    }
    if (::write(fds[1], out.data(), out.size()) < 0) ::_exit(3);
    ::_exit(0);
  }
  ::close(fds[1]);
  ChildResult result;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) result.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.skipped = WIFEXITED(status) && WEXITSTATUS(status) == 77;
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && !result.skipped)) {
    result.output += " [child status " + std::to_string(status) + "]";
  }
  return result;
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
  for (int i = 0; i < 3 * 1024 * 1024; ++i) text += static_cast<char>((i * 7 + i / 251) & 0xff);
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
  ASSERT_EQ(names[0], "ORVANDE.json");
  const std::string& temp = names[1];
  EXPECT_EQ(temp.rfind("ORVANDE.json.", 0), 0u) << temp;
  EXPECT_GT(temp.size(), std::string("ORVANDE.json.").size());
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
    EXPECT_EQ(Describe(e, *file), std::to_string(c.error) + " " + std::to_string(c.error) +
                                      " cannot " + verb + " " + file->NativePath() + ": " +
                                      std::generic_category().message(c.error));
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
                    OpenFailure{"CreateOverAFolder", true, "AFolder", EISDIR},
                    OpenFailure{"OpenMissingFile", false, "ORVANDE.json", ENOENT},
                    OpenFailure{"OpenMissingFolder", false, "missing/ORVANDE.json", ENOENT},
                    OpenFailure{"OpenAFolder", false, "AFolder", EISDIR}),
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

  ChildResult result = RunInChild(
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

INSTANTIATE_TEST_SUITE_P(
    Cases, TextStreamPermission,
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
  ChildResult result = RunInChild(
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

INSTANTIATE_TEST_SUITE_P(Cases, TextStreamPartWrite, testing::Bool(),
                         [](const auto& info) {
                           return std::string(info.param ? "ClosedAfterFailure" : "Dropped");
                         });
