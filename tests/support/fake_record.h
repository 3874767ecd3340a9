// Reading what the fake server recorded, and looking processes up in /proc,
// for tests that start processes and must end them again.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// One launch of the fake velmoor.
struct FakeRecord {
  pid_t pid = -1, ppid = -1, pgid = -1, sid = -1;
  std::string start;  // start time in clock ticks: with pid, names the process for good
  std::vector<std::string> args;
  std::map<int, std::string> fds;  // descriptor -> what it refers to
  std::set<int> blocked, ignored;
};

inline std::string UnescapeRecordText(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char c = s[++i];
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The complete records in the file, in launch order; a record still being
// written is left out.
inline std::vector<FakeRecord> ReadFakeRecords(const std::filesystem::path& file) {
  std::vector<FakeRecord> records;
  std::ifstream in(file);
  std::optional<FakeRecord> current;
  std::string line;
  while (std::getline(in, line)) {
    auto space = line.find(' ');
    std::string key = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "begin") {
      current.emplace();
    } else if (!current) {
      continue;
    } else if (key == "end") {
      records.push_back(*current);
      current.reset();
    } else if (key == "pid" || key == "ppid" || key == "pgid" || key == "sid") {
      pid_t v = static_cast<pid_t>(std::atol(rest.c_str()));
      (key == "pid"    ? current->pid
       : key == "ppid" ? current->ppid
       : key == "pgid" ? current->pgid
                       : current->sid) = v;
    } else if (key == "start") {
      current->start = rest;
    } else if (key == "arg") {
      current->args.push_back(UnescapeRecordText(rest));
    } else if (key == "fd") {
      auto gap = rest.find(' ');
      current->fds[std::atoi(rest.substr(0, gap).c_str())] =
          gap == std::string::npos ? "" : UnescapeRecordText(rest.substr(gap + 1));
    } else if (key == "blocked" || key == "ignored") {
      std::istringstream numbers(rest);
      int n;
      while (numbers >> n) (key == "blocked" ? current->blocked : current->ignored).insert(n);
    }
  }
  return records;
}

// The fields of /proc/<pid>/stat that tests look at.
struct ProcStat {
  char state = '?';  // 'Z' for a zombie
  pid_t ppid = -1, pgrp = -1;
  long long utime = 0, stime = 0;  // clock ticks
  std::string start;               // with the pid, names the process for good
};

inline std::optional<ProcStat> ReadProcStat(pid_t pid) {
  // Plain read(2): a process may end between open and read, and a stream
  // would throw then.
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  ssize_t n = read(fd, buffer, sizeof buffer);
  close(fd);
  if (n <= 0) return std::nullopt;
  const std::string stat(buffer, static_cast<std::size_t>(n));
  auto close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return std::nullopt;
  std::istringstream rest(stat.substr(close + 2));
  ProcStat s;
  std::string field;
  for (int i = 3; i <= 22 && rest >> field; ++i) {
    if (i == 3) s.state = field[0];
    if (i == 4) s.ppid = static_cast<pid_t>(std::atol(field.c_str()));
    if (i == 5) s.pgrp = static_cast<pid_t>(std::atol(field.c_str()));
    if (i == 14) s.utime = std::atoll(field.c_str());
    if (i == 15) s.stime = std::atoll(field.c_str());
    if (i == 22) s.start = field;
  }
  return s;
}

// True while the recorded process runs (a zombie no longer counts).
inline bool StillRunning(const FakeRecord& r) {
  auto s = ReadProcStat(r.pid);
  return s && s->start == r.start && s->state != 'Z';
}

// Every process of the system whose stat satisfies the test.
template <class Pred>
std::vector<pid_t> FindProcesses(Pred pred) {
  std::vector<pid_t> found;
  if (DIR* dir = opendir("/proc")) {
    while (dirent* e = readdir(dir)) {
      pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
      if (pid <= 0) continue;
      if (auto s = ReadProcStat(pid); s && pred(pid, *s)) found.push_back(pid);
    }
    closedir(dir);
  }
  return found;
}

// Live (not zombie) processes in the process group.
inline std::vector<pid_t> LiveGroupMembers(pid_t pgid) {
  return FindProcesses([pgid](pid_t, const ProcStat& s) { return s.pgrp == pgid && s.state != 'Z'; });
}

// Zombie children of this process.
inline std::vector<pid_t> OwnZombies() {
  pid_t self = getpid();
  return FindProcesses([self](pid_t, const ProcStat& s) { return s.ppid == self && s.state == 'Z'; });
}

// Kills every recorded process that is still the one recorded, and its group
// when it leads one.
inline void KillRecorded(const std::filesystem::path& file) {
  for (const FakeRecord& r : ReadFakeRecords(file)) {
    if (!StillRunning(r)) continue;
    if (r.pgid == r.pid) kill(-r.pid, SIGKILL);
    kill(r.pid, SIGKILL);
  }
}

// Ends the groups that still have a member (so their ids are still taken)
// and then kills and reaps the children.
inline void EndGroupsAndChildren(const std::vector<pid_t>& groups, const std::vector<pid_t>& children) {
  for (pid_t g : groups) {
    if (!LiveGroupMembers(g).empty()) kill(-g, SIGKILL);
  }
  for (pid_t p : children) {
    kill(p, SIGKILL);
    waitpid(p, nullptr, 0);
  }
}

}  // namespace testsupport
