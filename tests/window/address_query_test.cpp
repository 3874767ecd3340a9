// The address query as an ordinary user meets it: the distribution's user
// PATH, which has no sbin folder, the machine's own ifconfig and ip, and fake
// ones put where the real ones live (in a mount namespace of the test's own),
// never first on PATH.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLineEdit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/posix_support.h"
#include "support/window_fixture.h"
#include "window/design_data.h"

namespace {

namespace fs = std::filesystem;

// Debian's PATH for an ordinary user.
const char* const kUserPath = "/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games";

std::vector<fs::path> UserPathFolders() {
  std::vector<fs::path> folders;
  std::string rest = kUserPath;
  for (std::size_t colon; (colon = rest.find(':')) != std::string::npos; rest.erase(0, colon + 1)) {
    folders.emplace_back(rest.substr(0, colon));
  }
  folders.emplace_back(rest);
  return folders;
}

// The distinct sbin folders, as the query appends them to PATH.
std::set<fs::path> SbinFolders() {
  std::set<fs::path> folders;
  for (const char* dir : {"/sbin", "/usr/sbin"}) {
    std::error_code ec;
    const fs::path real = fs::canonical(dir, ec);
    if (!ec && fs::is_directory(real)) folders.insert(real);
  }
  return folders;
}

// Where the query finds the tool: the user PATH first, then sbin; empty
// when it is nowhere.
fs::path FindTool(const std::string& name) {
  std::vector<fs::path> folders = UserPathFolders();
  for (const char* dir : {"/sbin", "/usr/sbin"}) folders.emplace_back(dir);
  for (const fs::path& dir : folders) {
    const fs::path p = dir / name;
    if (access(p.c_str(), X_OK) == 0 && fs::is_regular_file(p)) return p;
  }
  return {};
}

// Every copy of the tool on the user PATH outside the sbin folders, each
// once, by its real path.
std::set<fs::path> ToolsOutsideSbin(const std::string& name) {
  const std::set<fs::path> sbin = SbinFolders();
  std::set<fs::path> found;
  for (const fs::path& dir : UserPathFolders()) {
    std::error_code ec;
    const fs::path real = fs::canonical(dir / name, ec);
    if (!ec && !sbin.count(real.parent_path())) found.insert(real);
  }
  return found;
}

// The machine's IPv4 addresses outside 127/8 and 169.254/16; with up, only
// those of interfaces that are up.
std::set<std::string> MachineAddresses(bool up) {
  std::set<std::string> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    if (up && !(i->ifa_flags & IFF_UP)) continue;
    const in_addr a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
    const std::uint32_t host = ntohl(a.s_addr);
    if ((host >> 24) == 127 || (host >> 16) == 0xA9FE) continue;
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &a, text, sizeof text)) addresses.insert(text);
  }
  freeifaddrs(list);
  return addresses;
}

std::string Describe(const std::set<std::string>& addresses) {
  std::string out;
  for (const auto& a : addresses) out += (out.empty() ? "" : ", ") + a;
  return out.empty() ? "none" : out;
}

// --- The real tools, run by user nobody --------------------------------------

struct QueryRun {
  std::string output, errors;
  std::string skipped;  // why the run could not be made as asked
};

void ReadAll(int fd, std::string& into) {
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
}

// Runs the design's query with /bin/sh in a child as an ordinary user runs
// it: as user nobody (when this process may become it), in the root folder,
// with the user PATH and nothing else in its environment. With hideSbin the
// child first gets mounts of its own in which every sbin folder is empty.
QueryRun RunAsOrdinaryUser(bool hideSbin) {
  testsupport::TempDir empty;
  fs::permissions(empty.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::string> sbin;
  for (const fs::path& dir : SbinFolders()) sbin.push_back(dir.string());
  const std::string pathVar = std::string("PATH=") + kUserPath;
  const std::string emptyDir = empty.str();
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                  const_cast<char*>(design::kAddressQuery.c_str()), nullptr};
  char* envp[] = {const_cast<char*>(pathVar.c_str()), nullptr};

  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {"", "", "pipe failed"};
  const pid_t pid = testsupport::ForkChild([&] {
    // Only system calls from here on.
    auto fail = [&](const char* why) {
      (void)!write(err[1], why, strlen(why));
      _exit(77);
    };
    if (hideSbin) {
      if (unshare(CLONE_NEWNS) != 0) fail("cannot make a mount namespace (unshare -m)");
      if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("cannot make mounts private");
      for (const std::string& dir : sbin) {
        if (mount(emptyDir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) fail("cannot hide sbin");
      }
    }
    if (geteuid() == 0 && !testsupport::BecomeNobody()) {
      fail("cannot become user nobody");
    }
    if (chdir("/") != 0) fail("cannot go to /");
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve("/bin/sh", argv, envp);
    return 127;
  });
  close(out[1]);
  close(err[1]);
  QueryRun run;
  ReadAll(out[0], run.output);
  ReadAll(err[0], run.errors);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
    run.skipped = run.errors;
    run.errors.clear();
  }
  return run;
}

// What the opening makes of the output: field 1, or 127.0.0.1 when empty.
std::string AddressShown(const std::string& output) {
  if (output.empty()) return "127.0.0.1";
  const StringArray fields = Split(output, " ");
  return fields.size() > 1 ? fields[1] : "<no field 1>";
}

void ExpectAnAddressOfThisMachine(const QueryRun& run) {
  const std::set<std::string> all = MachineAddresses(false);
  EXPECT_EQ(run.errors, "");
  if (MachineAddresses(true).empty()) {
    std::printf("note: this machine has no IPv4 address outside 127/8 and 169.254/16\n");
    EXPECT_EQ(AddressShown(run.output), "127.0.0.1");
    return;
  }
  const std::string shown = AddressShown(run.output);
  EXPECT_TRUE(all.count(shown)) << "shown " << shown << ", the machine has " << Describe(all);
  // Exactly the two words, nothing around the address.
  EXPECT_EQ(run.output, "inet " + shown);
}

TEST(AddressQueryAsUser, FindsAnAddressOfThisMachineWithItsOwnTools) {
  const fs::path ifconfig = FindTool("ifconfig"), ip = FindTool("ip");
  if (ifconfig.empty() && ip.empty()) GTEST_SKIP() << "this machine has neither ifconfig nor ip";
  std::printf("note: the query runs %s\n", (ifconfig.empty() ? ip : ifconfig).c_str());
  if (ifconfig.empty()) std::printf("note: this machine has no ifconfig\n");
  if (ip.empty()) std::printf("note: this machine has no ip\n");
  const QueryRun run = RunAsOrdinaryUser(false);
  ASSERT_EQ(run.skipped, "");
  ExpectAnAddressOfThisMachine(run);
}

TEST(AddressQueryAsUser, UsesIpWhereThereIsNoIfconfig) {
  if (FindTool("ip").empty()) GTEST_SKIP() << "this machine has no ip";
  for (const fs::path& dir : SbinFolders()) {
    for (const fs::path& onPath : UserPathFolders()) {
      std::error_code ec;
      if (fs::canonical(onPath, ec) == dir) GTEST_SKIP() << dir << " is on the user PATH itself";
    }
  }
  if (!ToolsOutsideSbin("ifconfig").empty()) GTEST_SKIP() << "ifconfig is on the user PATH outside sbin here";
  const QueryRun run = RunAsOrdinaryUser(true);
  if (!run.skipped.empty()) GTEST_SKIP() << run.skipped << ": the ip path is not run";
  ExpectAnAddressOfThisMachine(run);
}

// --- The window, with the user PATH ------------------------------------------

class AddressQueryTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // No fake ifconfig on PATH: the user's own PATH, after the folder of
    // the fake killall, which holds nothing else.
    setenv("PATH", testsupport::PathWithFakeKillall(kUserPath).c_str(), 1);
  }

  std::string Shown() { return Widget<QLineEdit>("IPAddress")->text().toStdString(); }
};

TEST_F(AddressQueryTest, OpeningShowsAnAddressOfThisMachine) {
  if (FindTool("ifconfig").empty() && FindTool("ip").empty()) {
    GTEST_SKIP() << "this machine has neither ifconfig nor ip";
  }
  testing::internal::CaptureStderr();
  MainWindow& w = Open();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const std::set<std::string> up = MachineAddresses(true), all = MachineAddresses(false);
  if (up.empty()) {
    EXPECT_EQ(w.IPAddress()->Text(), "127.0.0.1");
  } else {
    EXPECT_TRUE(all.count(Shown())) << "shown " << Shown() << ", the machine has " << Describe(all);
  }
  EXPECT_EQ(w.Label1()->Text(), "");
}

// --- Fake tools where the real ones live -------------------------------------

// Mounts that only this thread and the processes it starts see: a mount
// namespace of its own, left again when the object goes.
class PrivateMounts {
 public:
  PrivateMounts() : home_(open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC)), cwd_(fs::current_path()) {
    if (unshare(CLONE_NEWNS) != 0) {
      why_ = std::string("unshare -m: ") + std::strerror(errno);
      return;
    }
    entered_ = true;
    // Nothing mounted here may reach the machine's own mounts.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      why_ = std::string("private mounts: ") + std::strerror(errno);
      return;
    }
    ok_ = true;
  }
  ~PrivateMounts() {
    for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    if (entered_ && home_ >= 0) setns(home_, CLONE_NEWNS);
    if (home_ >= 0) close(home_);
    std::error_code ec;
    fs::current_path(cwd_, ec);
  }
  PrivateMounts(const PrivateMounts&) = delete;
  PrivateMounts& operator=(const PrivateMounts&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

  bool Bind(const fs::path& from, const fs::path& over) {
    if (!ok_ || mount(from.c_str(), over.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      why_ = "bind " + from.string() + " over " + over.string() + ": " + std::strerror(errno);
      return false;
    }
    mounted_.push_back(over);
    return true;
  }

 private:
  int home_;
  fs::path cwd_;
  bool entered_ = false, ok_ = false;
  std::string why_;
  std::vector<fs::path> mounted_;
};

struct PlaceCase {
  const char* name;
  std::optional<std::string> ifconfig;  // what it prints; none: there is no ifconfig
  std::optional<std::string> ip;        // what "ip -4 addr" prints; none: there is no ip
  std::string address;
};
void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class FakeTools : public AddressQueryTest, public ::testing::WithParamInterface<PlaceCase> {
 protected:
  // Puts the fakes in every sbin folder and over every real copy on the
  // user PATH; a tool the case does not have is hidden (a file that cannot
  // be run stands in its place). Gives why it could not.
  std::string PlaceTools(const PlaceCase& c, PrivateMounts& mounts) {
    WriteFakes(c);
    if (!mounts.ok()) return mounts.why();
    const std::set<fs::path> sbin = SbinFolders();
    for (const fs::path& dir : UserPathFolders()) {
      std::error_code ec;
      if (sbin.count(fs::canonical(dir, ec))) return dir.string() + " is an sbin folder here";
    }
    // Found before the folders are covered.
    const std::set<fs::path> realIfconfig = ToolsOutsideSbin("ifconfig"), realIp = ToolsOutsideSbin("ip");
    for (const fs::path& dir : sbin) {
      if (!mounts.Bind(sbin_.path(), dir)) return mounts.why();
    }
    for (const fs::path& p : realIfconfig) {
      if (!mounts.Bind(c.ifconfig ? sbin_.path() / "ifconfig" : fs::path("/dev/null"), p))
        return mounts.why();
    }
    for (const fs::path& p : realIp) {
      if (!mounts.Bind(c.ip ? sbin_.path() / "ip" : fs::path("/dev/null"), p)) return mounts.why();
    }
    return "";
  }

  // The fakes of the case, in a folder of their own.
  void WriteFakes(const PlaceCase& c) {
    fs::permissions(sbin_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    if (c.ifconfig) {
      testsupport::WriteFile(data_.path() / "ifconfig.out", *c.ifconfig);
      testsupport::WriteFile(sbin_.path() / "ifconfig",
                             "#!/bin/sh\ncat '" + (data_.path() / "ifconfig.out").string() + "'\n", true);
    }
    if (c.ip) {
      testsupport::WriteFile(data_.path() / "ip.out", *c.ip);
      testsupport::WriteFile(
          sbin_.path() / "ip",
          "#!/bin/sh\n[ \"$*\" = '-4 addr' ] || { echo \"ip: unexpected: $*\" >&2; exit 1; }\n"
          "cat '" +
              (data_.path() / "ip.out").string() + "'\n",
          true);
    }
  }

  testsupport::TempDir sbin_, data_;
};

TEST_P(FakeTools, OpeningShowsTheFirstAddressThatCounts) {
  const PlaceCase& c = GetParam();
  PrivateMounts mounts;
  std::string why = PlaceTools(c, mounts);
  if (!why.empty() && c.ifconfig && ToolsOutsideSbin("ifconfig").empty()) {
    // Last on PATH still comes before sbin, and no real ifconfig precedes it;
    // ip is never asked where there is an ifconfig.
    std::printf("note: %s; the fake ifconfig is last on PATH instead of in sbin\n", why.c_str());
    setenv("PATH", testsupport::PathWithFakeKillall(std::string(kUserPath) + ":" + sbin_.str()).c_str(), 1);
    why.clear();
  }
  if (!why.empty()) GTEST_SKIP() << "fake tools cannot be put where the real ones live: " << why;

  testing::internal::CaptureStderr();
  MainWindow& w = Open();
  const std::string errors = testing::internal::GetCapturedStderr();

  EXPECT_EQ(w.IPAddress()->Text(), c.address);
  EXPECT_EQ(Shown(), c.address);
  // The opening went on past the query.
  EXPECT_EQ(w.Label1()->Text(), "");
  EXPECT_EQ(errors.find("orvande: unhandled"), std::string::npos) << errors;
  // Where there is a tool, the query has nothing to complain about.
  if (c.ifconfig || c.ip) {
    EXPECT_EQ(errors, "");
  }
}

// net-tools' ifconfig, lines indented with blanks.
std::string Net(const std::string& name, const std::string& inet) {
  return name + ": flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n        inet " + inet +
         "\n        inet6 fe80::a00:27ff:fe4e:66a1  prefixlen 64  scopeid 0x20<link>\n"
         "        ether 08:00:27:4e:66:a1  txqueuelen 1000  (Ethernet)\n\n";
}
const std::string kNetLoopback =
    "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536\n        inet 127.0.0.1  netmask 255.0.0.0\n"
    "        inet6 ::1  prefixlen 128  scopeid 0x10<host>\n\n";

// iproute2's "ip -4 addr".
std::string Ip(int index, const std::string& name, const std::string& inet) {
  return std::to_string(index) + ": " + name +
         ": <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 qdisc fq_codel state UP group default qlen 1000\n"
         "    inet " +
         inet + "\n       valid_lft forever preferred_lft forever\n";
}
const std::string kIpLoopback =
    "1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue state UNKNOWN group default qlen 1000\n"
    "    inet 127.0.0.1/8 scope host lo\n       valid_lft forever preferred_lft forever\n";

INSTANTIATE_TEST_SUITE_P(
    Outputs, FakeTools,
    ::testing::Values(
        PlaceCase{"BlankIndented",
                  Net("eth0", "192.168.1.169  netmask 255.255.255.0  broadcast 192.168.1.255") + kNetLoopback,
                  std::nullopt, "192.168.1.169"},
        PlaceCase{"TabIndented",
                  "lo0: flags=8049<UP,LOOPBACK,RUNNING,MULTICAST> mtu 16384\n"
                  "\tinet6 ::1 prefixlen 128\n\tinet 127.0.0.1 netmask 0xff000000\n"
                  "en0: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500\n"
                  "\tether 3c:22:fb:12:34:56\n"
                  "\tinet 10.127.0.5 netmask 0xff000000 broadcast 10.255.255.255\n",
                  std::nullopt, "10.127.0.5"},
        PlaceCase{"OldNetToolsAddrForm",
                  "eth0      Link encap:Ethernet  HWaddr 08:00:27:4e:66:a1\n"
                  "          inet addr:192.168.169.20  Bcast:192.168.169.255  Mask:255.255.255.0\n"
                  "          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n\n"
                  "lo        Link encap:Local Loopback\n"
                  "          inet addr:127.0.0.1  Mask:255.0.0.0\n",
                  std::nullopt, "192.168.169.20"},
        PlaceCase{
            "BroadcastEndingIn127",
            kNetLoopback + Net("eth0", "192.168.1.20  netmask 255.255.255.128  broadcast 192.168.1.127"),
            std::nullopt, "192.168.1.20"},
        PlaceCase{"LoopbackAndLinkLocalOnly",
                  kNetLoopback + Net("eth0", "169.254.7.9  netmask 255.255.0.0  broadcast 169.254.255.255"),
                  std::nullopt, "127.0.0.1"},
        PlaceCase{"SeveralInterfacesFirstThatCountsWins",
                  kNetLoopback + Net("eth0", "169.254.3.4  netmask 255.255.0.0") +
                      Net("eth1", "10.0.0.5  netmask 255.255.255.0  broadcast 10.0.0.255") +
                      Net("wlan0", "192.168.0.9  netmask 255.255.255.0  broadcast 192.168.0.255"),
                  std::nullopt, "10.0.0.5"},
        PlaceCase{"NextToTheExcludedRanges",
                  kNetLoopback + Net("eth0", "169.254.0.1  netmask 255.255.0.0") +
                      Net("eth1", "169.255.0.7  netmask 255.255.0.0"),
                  std::nullopt, "169.255.0.7"},
        PlaceCase{"IfconfigBeforeIp", Net("eth0", "192.168.1.169  netmask 255.255.255.0"),
                  kIpLoopback + Ip(2, "eth0", "10.9.9.9/24 brd 10.9.9.255 scope global eth0"),
                  "192.168.1.169"},
        PlaceCase{"IpWithoutIfconfig", std::nullopt,
                  kIpLoopback + Ip(2, "eth0", "192.168.1.169/24 brd 192.168.1.255 scope global dynamic eth0"),
                  "192.168.1.169"},
        PlaceCase{"IpSeveralInterfaces", std::nullopt,
                  kIpLoopback + Ip(2, "eth0", "169.254.9.9/16 brd 169.254.255.255 scope link eth0") +
                      Ip(3, "eth1", "10.127.0.5/8 brd 10.255.255.255 scope global eth1") +
                      Ip(4, "wlan0", "192.168.169.20/24 brd 192.168.169.255 scope global wlan0"),
                  "10.127.0.5"},
        PlaceCase{"IpLoopbackOnly", std::nullopt, kIpLoopback, "127.0.0.1"},
        PlaceCase{"NeitherIfconfigNorIp", std::nullopt, std::nullopt, "127.0.0.1"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
