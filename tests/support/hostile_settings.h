// Odd things a hostile environment or a careless user leaves at the settings
// path, with the report the opening gives for each. Shared by the in-process
// and the end-to-end tests, so it needs only the C++ and POSIX libraries.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace hostile {

namespace fs = std::filesystem;

inline const std::string kGood =
    R"({"ipaddress":"10.1.2.3","port":"9000","velmoorFldr":"\/opt\/v","ShareDir":"\/srv\/share","Automount":"No"})";
// One comma missing, as a hand edit leaves it: the error is at position 40.
inline const std::string kMissingComma =
    R"({"ipaddress":"10.9.8.70","port":"4000" "velmoorFldr":"\/opt\/v","ShareDir":"\/srv","Automount":"No"})";
inline const std::string kMissingCommaError = "JSONException 6: Missing , or } at position 40";

enum class Bad {
  Fifo,
  LinkToFifo,
  LinkToDevZero,
  Folder,
  TwoMiB,
  TwoMBOfBrackets,
  CapOfBrackets,
  LinkToUnparsableFile,
  MissingComma,
  NoMembers,
};

struct HostileCase {
  const char* name;
  Bad kind;
  std::string report;  // the exception as the report names it, "@" for the settings file's path
};
inline void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

inline std::vector<HostileCase> Cases() {
  return {
      {"Fifo", Bad::Fifo, "IOException 22: cannot open @: not a regular file (a FIFO)"},
      {"LinkToFifo", Bad::LinkToFifo, "IOException 22: cannot open @: not a regular file (a FIFO)"},
      {"LinkToDevZero", Bad::LinkToDevZero,
       "IOException 22: cannot open @: not a regular file (a character device)"},
      {"Folder", Bad::Folder, "IOException 21: cannot open @: not a regular file (a folder)"},
      {"TwoMiB", Bad::TwoMiB,
       "IOException 27: cannot open @: File too large (2097152 bytes; at most 1048576 are read)"},
      {"TwoMBOfBrackets", Bad::TwoMBOfBrackets,
       "IOException 27: cannot open @: File too large (2000000 bytes; at most 1048576 are read)"},
      {"CapOfBrackets", Bad::CapOfBrackets, "JSONException 10: Illegal Value at position 1048576"},
      {"LinkToUnparsableFile", Bad::LinkToUnparsableFile, kMissingCommaError},
      {"MissingComma", Bad::MissingComma, kMissingCommaError},
      {"NoMembers", Bad::NoMembers, "KeyNotFoundException 0: JSONItem has no member \"ipaddress\""},
  };
}

// The case's report with the settings file's path in place of each "@".
inline std::string ReportFor(const HostileCase& c, const std::string& path) {
  std::string report = c.report;
  for (auto at = report.find('@'); at != std::string::npos; at = report.find('@', at + path.size())) {
    report.replace(at, 1, path);
  }
  return report;
}

inline void Write(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + p.string());
}

inline void MakeFifo(const fs::path& p) {
  if (::mkfifo(p.c_str(), 0600) != 0) {
    throw std::system_error(errno, std::generic_category(), "mkfifo " + p.string());
  }
}

// Puts the hostile thing at path, with what a link points to in the folder
// outside; gives the bytes that must be kept where there is a file. Throws
// when it cannot.
inline std::optional<std::string> Plant(Bad kind, const fs::path& path, const fs::path& outside) {
  fs::create_directories(path.parent_path());
  fs::create_directories(outside);
  switch (kind) {
    case Bad::Fifo:
      MakeFifo(path);
      return std::nullopt;
    case Bad::LinkToFifo:
      MakeFifo(outside / "fifo");
      fs::create_symlink(outside / "fifo", path);
      return std::nullopt;
    case Bad::LinkToDevZero:
      fs::create_symlink("/dev/zero", path);
      return std::nullopt;
    case Bad::Folder:
      fs::create_directory(path);
      Write(path / "inside", "mine");
      return std::nullopt;
    case Bad::TwoMiB: {
      // Good settings at its head: only the size can refuse it.
      std::string text(2u << 20, ' ');
      text.replace(0, kGood.size(), kGood);
      Write(path, text);
      return text;
    }
    case Bad::TwoMBOfBrackets: {
      std::string text(2000000, '[');
      Write(path, text);
      return text;
    }
    case Bad::CapOfBrackets: {
      // As long as the read takes (1 MiB), and each byte a level deeper.
      std::string text(1u << 20, '[');
      Write(path, text);
      return text;
    }
    case Bad::LinkToUnparsableFile:
      Write(outside / "dotfiles.json", kMissingComma);
      fs::create_symlink(outside / "dotfiles.json", path);
      return kMissingComma;
    case Bad::MissingComma:
      Write(path, kMissingComma);
      return kMissingComma;
    case Bad::NoMembers:
      Write(path, "{}");
      return "{}";
  }
  return std::nullopt;
}

}  // namespace hostile
