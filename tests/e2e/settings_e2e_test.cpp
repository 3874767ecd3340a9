// The built launcher against hostile settings paths and unusable settings
// places, run as a user runs it: a separate process under the offscreen
// platform, in a private sandbox. A settings path that would hang the
// opening (a FIFO) or make it run away (/dev/zero, a huge file) is shown by
// the real binary and a time limit; every process a test starts is ended by
// pid in TearDown.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "e2e/launcher_sandbox.h"
#include "support/hostile_settings.h"
#include "support/posix_support.h"
#include "support/test_support.h"

#ifndef ORVANDE_EXE
#error "ORVANDE_EXE must name the built launcher"
#endif

namespace {

using namespace std::chrono_literals;
using e2e::Clock;
using e2e::milliseconds;
namespace fs = std::filesystem;

// Generous: the sanitizer build starts the launcher several times slower.
constexpr milliseconds kStartTimeout = 30s;

using hostile::Bad;
using hostile::HostileCase;
using hostile::kMissingComma;
using testsupport::BecomeNobody;
using testsupport::kNobody;

// The environment without the named variables.
std::vector<std::string> Without(std::vector<std::string> env, const std::set<std::string>& names) {
  std::erase_if(env,
                [&](const std::string& entry) { return names.count(entry.substr(0, entry.find('='))) > 0; });
  return env;
}

class SettingsE2E : public ::testing::Test {
 protected:
  void TearDown() override { e2e::EndWithShells(launcher_, box_.record()); }

  void Launch(const std::vector<std::string>& args, std::vector<std::string> env) {
    launcher_ = e2e::SpawnIn(box_, ORVANDE_EXE, args, std::move(env));
  }

  bool Settled() { return e2e::Settled(box_, launcher_); }

  std::string Stderr() const { return testsupport::ReadFile(box_.err()); }
  std::vector<std::string> StderrLines() const { return box_.Lines(box_.err()); }

  // The launcher's peak memory so far, in KiB.
  long long PeakKiB() const { return e2e::StatusKiB(launcher_.pid(), "VmHWM"); }

  e2e::Sandbox box_;
  e2e::Child launcher_;
};

// --- Hostile settings paths ------------------------------------------------------

class HostilePath : public SettingsE2E, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostilePath, OneLineAndTheWindowOpensWithinASecond) {
  const HostileCase& c = GetParam();
  const fs::path path = box_.settingsFile();
  const fs::path outside = box_.root() / "outside";
  std::optional<std::string> bytes;
  ASSERT_NO_THROW(bytes = hostile::Plant(c.kind, path, outside));
  const std::string report = hostile::ReportFor(c, path.string());

  Launch({}, box_.Environment());
  // From the address query, which comes right before the read, to the
  // reported read.
  ASSERT_TRUE(e2e::WaitFor([&] { return fs::exists(box_.ifconfigLog()); }, kStartTimeout, 1ms)) << Stderr();
  const auto queried = Clock::now();
  ASSERT_TRUE(e2e::WaitFor([&] { return Stderr().find('\n') != std::string::npos; }, kStartTimeout, 1ms))
      << "the opening never ended";
  EXPECT_LT(Clock::now() - queried, 1s) << "the read took a second or more";
  ASSERT_TRUE(e2e::WaitFor([&] { return Settled(); }, 5s)) << "the window does not wait in its event loop";
  EXPECT_FALSE(launcher_.WaitExit(300ms).has_value()) << "the launcher ended";

  EXPECT_EQ(StderrLines(),
            (std::vector<std::string>{"orvande: unhandled " + report + " (settings file " + path.string() +
                                      "; it is kept and set aside at the next Start)"}));
  // Nothing was read in bulk, and a text at the limit costs little: the
  // launcher stays far below what a 2 MB text or an endless device would
  // make of it.
  EXPECT_LT(PeakKiB(), 512 * 1024);
  // The opening moves nothing and changes nothing.
  EXPECT_TRUE(fs::exists(fs::symlink_status(path)));
  if (bytes) {
    EXPECT_TRUE(testsupport::ReadFile(path) == *bytes) << "the file changed";
  }
  if (c.kind == Bad::LinkToUnparsableFile) {
    EXPECT_EQ(testsupport::ReadFile(outside / "dotfiles.json"), kMissingComma);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(box_.settingsFolder()), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(E2E, HostilePath, ::testing::ValuesIn(hostile::Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Unusable settings places ------------------------------------------------------

// What a launch with -automount and no settings file saves: the address the
// fake query gives, the design values, and "Yes" (the box is ticked before
// the queued Start saves).
std::string FirstAutomountSave() {
  e2e::Settings s;
  s.ipaddress = "192.0.2.77";
  s.port = "38008";
  s.velmoorFldr = "/Games";
  s.ShareDir = "/Games";
  s.Automount = "Yes";
  return s.Text();
}

enum class Place { XdgIsAFile, OrvandeIsAFile, XdgMissingNested, HomeMissing };

struct PlaceCase {
  const char* name;
  Place place;
  std::string report;   // "@" for the sandbox; empty when the Start saves
  std::string savedIn;  // the application-data folder, under "@", when it saves
};
void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class UnusablePlace : public SettingsE2E, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(UnusablePlace, StartFailsNamingThePathOrSavesInTheFolderItMade) {
  const PlaceCase& c = GetParam();
  const std::string root = box_.root().string();
  auto expand = [&](std::string text) {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + root.size())) {
      text.replace(at, 1, root);
    }
    return text;
  };
  std::vector<std::string> env;
  switch (c.place) {
    case Place::XdgIsAFile:
      testsupport::WriteFile(root + "/file", "mine");
      env = box_.Environment({{"XDG_CONFIG_HOME", root + "/file"}});
      break;
    case Place::OrvandeIsAFile:
      testsupport::WriteFile(box_.settingsFolder(), "mine");
      env = box_.Environment();
      break;
    case Place::XdgMissingNested:
      env = box_.Environment({{"XDG_CONFIG_HOME", root + "/a/b/xdg"}});
      break;
    case Place::HomeMissing:
      env = Without(box_.Environment({{"HOME", root + "/gone/home"}}), {"XDG_CONFIG_HOME"});
      break;
  }
  Launch({"-automount"}, env);
  ASSERT_TRUE(e2e::WaitFor([&] { return Settled(); }, kStartTimeout)) << Stderr();
  // Long enough for a started server's shell to have said something.
  std::this_thread::sleep_for(300ms);

  if (!c.report.empty()) {
    EXPECT_EQ(StderrLines(), (std::vector<std::string>{"orvande: unhandled " + expand(c.report)}));
    EXPECT_FALSE(fs::exists(box_.record())) << "a server was started";
    const fs::path kept = c.place == Place::XdgIsAFile ? fs::path(root + "/file") : box_.settingsFolder();
    EXPECT_EQ(testsupport::ReadFile(kept), "mine");
    return;
  }
  // The start went on to the shell (which finds no /Games/velmoor): no
  // report of the launcher's own.
  EXPECT_EQ(Stderr().find("orvande: unhandled"), std::string::npos) << Stderr();
  const fs::path data = expand(c.savedIn);
  EXPECT_EQ(testsupport::ReadFile(data / "ORVANDE" / "ORVANDE.json"), FirstAutomountSave());
  // Every folder on the way was made for the application-data folder.
  for (fs::path p = data; p.string().size() > root.size(); p = p.parent_path()) {
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0) << p;
    EXPECT_EQ(st.st_mode & 07777, 0700u) << p;
  }
}

INSTANTIATE_TEST_SUITE_P(
    E2E, UnusablePlace,
    ::testing::Values(PlaceCase{"XdgIsAFile", Place::XdgIsAFile,
                                "IOException 20: cannot use folder @/file: Not a directory (settings file "
                                "@/file/ORVANDE/ORVANDE.json; the settings were not saved)",
                                ""},
                      PlaceCase{
                          "OrvandeIsAFile", Place::OrvandeIsAFile,
                          "IOException 20: cannot use folder @/config/ORVANDE: Not a directory (settings "
                          "file @/config/ORVANDE/ORVANDE.json; the settings were not saved)",
                          ""},
                      PlaceCase{"XdgMissingNested", Place::XdgMissingNested, "", "@/a/b/xdg"},
                      PlaceCase{"HomeMissing", Place::HomeMissing, "", "@/gone/home/.config"}),
    [](const auto& info) { return std::string(info.param.name); });

// Starts the launcher (program) with -automount in the environment given; as
// user nobody when asked; with standIn, in a mount namespace of its own where
// that folder stands over the home folder, so the real one stays untouched.
// Root makes the mount namespace alone; another user makes it inside a user
// namespace of its own, in which it keeps its own user and group ids. The
// child exits 124 when it cannot.
void LaunchWithoutHome(e2e::Child& launcher, const e2e::Sandbox& box, const std::string& program,
                       const std::vector<std::string>& env, bool asNobody, const fs::path& standIn,
                       const std::string& home) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("-automount"), nullptr};
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const bool asRoot = geteuid() == 0;
  // Made before the fork: the child only makes system calls.
  const std::string uidMap = std::to_string(geteuid()) + " " + std::to_string(geteuid()) + " 1\n";
  const std::string gidMap = std::to_string(getegid()) + " " + std::to_string(getegid()) + " 1\n";
  const std::string deny = "deny";
  auto writeTo = [](const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) close(fd);
    return ok;
  };
  const int out = open(box.out().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(box.err().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(out, 0);
  ASSERT_GE(err, 0);
  const pid_t pid = testsupport::ForkChild([&] {
    if (dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0) _exit(126);
    if (!standIn.empty()) {
      const bool ns =
          asRoot ? unshare(CLONE_NEWNS) == 0
                 : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && writeTo("/proc/self/setgroups", deny) &&
                       writeTo("/proc/self/uid_map", uidMap) && writeTo("/proc/self/gid_map", gidMap);
      if (!ns || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount(standIn.c_str(), home.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        _exit(124);
      }
    }
    if (asNobody && !BecomeNobody()) _exit(testsupport::kCannotBecomeNobody);
    execve(argv[0], argv.data(), envp.data());
    return 127;
  });
  close(out);
  close(err);
  ASSERT_GT(pid, 0);
  launcher = e2e::Child(pid);
}

// HOME and XDG_CONFIG_HOME both unset: the home folder is the password
// database's, as other desktop programs take it. Root's real home must not
// be written in, so the launcher runs as user nobody, whose home (commonly
// /nonexistent) cannot be made: the Start then fails naming it. Only as
// root, and only where nobody has no home: any other way would write in a
// real home.
TEST_F(SettingsE2E, HomeUnsetTakesThePasswordDatabasesHome) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "not root, so it cannot run as user nobody; "
                    "HomeUnsetSavesUnderThePasswordDatabasesHome shows the save";
  }
  struct passwd* entry = getpwuid(kNobody);
  if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') GTEST_SKIP() << "no home in the password database";
  const std::string home = entry->pw_dir;
  if (access(home.c_str(), F_OK) == 0) {
    GTEST_SKIP() << "user nobody has a home folder (" << home << "): not written in";
  }
  const fs::path data = fs::path(home) / ".config";

  // The sandbox becomes nobody's, so that the launcher and its fake
  // ifconfig can use it (Qt wants its runtime folder owned by its user). The
  // launcher runs from a copy in it: the build folder may lie in one that
  // only root may pass.
  const fs::path program = box_.root() / "orvande";
  fs::copy_file(ORVANDE_EXE, program);
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  for (const auto& e : fs::recursive_directory_iterator(box_.root())) {
    ASSERT_EQ(lchown(e.path().c_str(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(chown(box_.root().c_str(), kNobody, kNobody), 0);
  // Parents of the sandbox that only root may pass are passable to all.
  for (fs::path p = box_.root().parent_path(); p != p.root_path(); p = p.parent_path()) {
    struct stat st;
    if (stat(p.c_str(), &st) == 0 && !(st.st_mode & S_IXOTH)) {
      GTEST_SKIP() << p << " cannot be passed by user nobody";
    }
  }

  LaunchWithoutHome(launcher_, box_, program.string(),
                    Without(box_.Environment(), {"HOME", "XDG_CONFIG_HOME"}), true, {}, home);

  ASSERT_TRUE(e2e::WaitFor([&] { return Settled(); }, kStartTimeout)) << Stderr();
  std::this_thread::sleep_for(300ms);

  std::vector<std::string> reports;
  for (const auto& line : StderrLines()) {
    if (line.rfind("orvande: unhandled", 0) == 0) reports.push_back(line);
  }
  const fs::path file = data / "ORVANDE" / "ORVANDE.json";
  EXPECT_EQ(reports, (std::vector<std::string>{"orvande: unhandled IOException 13: cannot make folder " +
                                               data.string() + ": Permission denied (settings file " +
                                               file.string() + "; the settings were not saved)"}))
      << Stderr();
  EXPECT_FALSE(fs::exists(data));
}

// The save itself, under the home the password database gives this user:
// a folder of the sandbox stands over that home in a mount namespace of the
// launcher's own (inside a user namespace when not root), so the save lands
// in the sandbox and the real home is never written in.
TEST_F(SettingsE2E, HomeUnsetSavesUnderThePasswordDatabasesHome) {
  struct passwd* entry = getpwuid(geteuid());
  if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') GTEST_SKIP() << "no home in the password database";
  const std::string home = entry->pw_dir;
  if (!fs::is_directory(home)) GTEST_SKIP() << "the home " << home << " is no folder";
  const fs::path standIn = box_.root() / "home";
  fs::create_directory(standIn);
  const bool realHadSettings = fs::exists(fs::path(home) / ".config" / "ORVANDE");

  LaunchWithoutHome(launcher_, box_, ORVANDE_EXE, Without(box_.Environment(), {"HOME", "XDG_CONFIG_HOME"}),
                    false, standIn, home);
  const bool settled = e2e::WaitFor([&] { return !launcher_.Running() || Settled(); }, kStartTimeout);
  const auto status = launcher_.Poll();
  if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 124) {
    GTEST_SKIP() << "no mount namespace of its own may be made here, so the real home would be written in";
  }
  ASSERT_TRUE(settled && !status) << Stderr();
  const fs::path file = standIn / ".config" / "ORVANDE" / "ORVANDE.json";
  ASSERT_TRUE(e2e::WaitFor([&] { return fs::exists(file); }, 5s)) << Stderr();
  EXPECT_EQ(testsupport::ReadFile(file), FirstAutomountSave());
  EXPECT_EQ(Stderr().find("orvande: unhandled"), std::string::npos) << Stderr();
  EXPECT_EQ(fs::exists(fs::path(home) / ".config" / "ORVANDE"), realHadSettings)
      << "the real home was touched";
}

// --- No settings file ---------------------------------------------------------------

// An entry of this machine's root folder, to be mirrored.
struct RootEntry {
  std::string name;
  char kind;  // 'd' folder, 'f' anything else bindable, 'l' link
  std::string link;
};

std::vector<RootEntry> EntriesOfRoot() {
  std::vector<RootEntry> entries;
  for (const auto& e : fs::directory_iterator("/")) {
    RootEntry entry{e.path().filename().string(), 'f', {}};
    if (e.is_symlink()) {
      entry.kind = 'l';
      entry.link = fs::read_symlink(e.path()).string();
    } else if (e.is_directory()) {
      entry.kind = 'd';
    }
    entries.push_back(entry);
  }
  return entries;
}

// Starts the launcher in a mount namespace of its own whose root mirrors
// this machine's (each entry of / bound into a fresh tmpfs) and adds /Games
// holding the fake server: the server folder the window shows when it read
// no settings. So a start without settings starts the fake, and nothing is
// made in the machine's real root. The child ends with 124 where no such
// root can be made.
void LaunchWithGames(e2e::Child& launcher, const e2e::Sandbox& box, const std::vector<std::string>& args,
                     const std::vector<std::string>& env) {
  // Everything is prepared here: the child only makes system calls.
  const fs::path root = box.root() / "root";
  fs::create_directory(root);
  std::vector<RootEntry> entries = EntriesOfRoot();
  std::vector<std::string> from, to;
  for (const auto& e : entries) {
    from.push_back("/" + e.name);
    to.push_back((root / e.name).string());
  }
  const std::string games = (root / "Games").string();
  const std::string fakes = testsupport::FakesDir().string();
  std::vector<std::string> argvText = {ORVANDE_EXE};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const int out = open(box.out().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(box.err().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(out, 0);
  ASSERT_GE(err, 0);
  pid_t pid = fork();
  if (pid == 0) {
    if (dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0) _exit(126);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", root.c_str(), "tmpfs", 0, "mode=0755") != 0) {
      _exit(124);
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const char* target = to[i].c_str();
      if (entries[i].kind == 'l') {
        if (symlink(entries[i].link.c_str(), target) != 0) _exit(124);
        continue;
      }
      const bool made =
          entries[i].kind == 'd' ? mkdir(target, 0755) == 0 : mknod(target, S_IFREG | 0644, 0) == 0;
      if (!made || mount(from[i].c_str(), target, nullptr, MS_BIND | MS_REC, nullptr) != 0) _exit(124);
    }
    if (mkdir(games.c_str(), 0755) != 0 ||
        mount(fakes.c_str(), games.c_str(), nullptr, MS_BIND, nullptr) != 0 || chroot(root.c_str()) != 0 ||
        chdir("/") != 0) {
      _exit(124);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out);
  close(err);
  ASSERT_GT(pid, 0);
  launcher = e2e::Child(pid);
}

enum class Holds { NoFolder, EmptyFolder, OnlyACopySetAside };
const char* NameOf(Holds h) {
  switch (h) {
    case Holds::NoFolder:
      return "NoFolder";
    case Holds::EmptyFolder:
      return "EmptyFolder";
    default:
      return "OnlyACopySetAside";
  }
}
void PrintTo(Holds h, std::ostream* os) { *os << NameOf(h); }

class NoSettingsFile : public SettingsE2E, public ::testing::WithParamInterface<Holds> {};

// With -automount and no settings file, whether or not its folder is there,
// the real launcher opens without a word and starts the server from the
// window's own values, as on a first launch.
TEST_P(NoSettingsFile, AutomountOpensQuietlyAndStartsTheServer) {
  const fs::path aside = box_.settingsFolder() / "ORVANDE.json.unreadable-20240101-000000";
  if (GetParam() != Holds::NoFolder) fs::create_directories(box_.settingsFolder());
  if (GetParam() == Holds::OnlyACopySetAside) testsupport::WriteFile(aside, kMissingComma);

  LaunchWithGames(launcher_, box_, {"-automount"}, box_.Environment());
  auto records = [&] { return testsupport::ReadFakeRecords(box_.record()); };
  // A report ends the wait at once: there must be none.
  ASSERT_TRUE(e2e::WaitFor([&] { return !launcher_.Running() || !records().empty() || !Stderr().empty(); },
                           kStartTimeout))
      << Stderr();
  if (const auto status = launcher_.Poll(); status && WIFEXITED(*status) && WEXITSTATUS(*status) == 124) {
    GTEST_SKIP() << "no mount namespace with a folder /Games of its own may be made here";
  }
  ASSERT_TRUE(launcher_.Running()) << Stderr();
  // Back waiting in its loop: the opening and the pushed Start are over.
  ASSERT_TRUE(e2e::WaitFor([&] { return e2e::BackInLoop(launcher_.pid()); }, kStartTimeout));

  EXPECT_EQ(Stderr(), "");
  const auto started = records();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].args, (std::vector<std::string>{"-p", "38008", "/Games"}));
  EXPECT_TRUE(e2e::Alive(started[0]));
  EXPECT_EQ(testsupport::ReadFile(box_.settingsFile()), FirstAutomountSave());
  if (GetParam() == Holds::OnlyACopySetAside) {
    EXPECT_EQ(testsupport::ReadFile(aside), kMissingComma);
    EXPECT_EQ(std::distance(fs::directory_iterator(box_.settingsFolder()), fs::directory_iterator()), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(E2E, NoSettingsFile,
                         ::testing::Values(Holds::NoFolder, Holds::EmptyFolder, Holds::OnlyACopySetAside),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

}  // namespace
