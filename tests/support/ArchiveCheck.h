// Independent readers for tests that write ZIP archives: python3's zipfile
// (testzip, the central and local header fields, the end records), `unzip -t`,
// `7zz t` and `bsdtar -tf`, each run as a separate program. CheckArchive runs
// the ones asked for and collects what each reported, including the entry
// names each of them sees.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace archive_check {

struct ProgramResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

// Runs argv[0] (searched in PATH) with a UTF-8 locale and collects its output.
inline ProgramResult RunProgram(const std::vector<std::string>& argv) {
  ProgramResult result;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return result;
  }
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, 0);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::setenv("LANG", "C.UTF-8", 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(buffer, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// Reads the archive with zipfile and prints, line by line: "testzip <result>",
// the end records, then per entry its central fields (zipfile's view) and
// the fields of its local header (parsed from the file at header_offset).
inline constexpr const char* kZipfileScript = R"PY(
import struct, sys, zipfile
path = sys.argv[1]
hexs = lambda b: b.hex() if b else "-"
with open(path, "rb") as f:
    data_len = f.seek(0, 2)
    tail_start = max(0, data_len - 65557)
    f.seek(tail_start)
    tail = f.read()
    pos = tail.rfind(b"PK\x05\x06")
    if pos >= 0:
        sig, disk, cdisk, n_disk, n_total, cd_size, cd_off, clen = struct.unpack("<IHHHHIIH", tail[pos:pos + 22])
        print("eocd", n_disk, n_total, cd_size, cd_off, clen, tail_start + pos)
        zip64_locator = pos >= 20 and tail[pos - 20:pos - 16] == b"PK\x06\x07"
        print("zip64", 1 if zip64_locator else 0)
        if zip64_locator:
            _, z64disk, z64off, ndisks = struct.unpack("<IIQI", tail[pos - 20:pos])
            f.seek(z64off)
            rec = f.read(56)
            (sig, size, made, need, disk, cdisk, n_disk, n_total, cd_size, cd_off) = struct.unpack("<IQHHIIQQQQ", rec)
            print("zip64eocd", sig, size, made, need, disk, cdisk, n_disk, n_total, cd_size, cd_off, z64disk, z64off, ndisks)
    with zipfile.ZipFile(path) as z:
        bad = z.testzip()
        print("testzip", "None" if bad is None else bad.encode("utf-8", "surrogateescape").hex())
        for i in z.infolist():
            f.seek(i.header_offset)
            h = f.read(30)
            (sig, ver, flags, method, ltime, ldate, crc, csize, usize, nlen, xlen) = struct.unpack("<IHHHHHIIIHH", h)
            lname = f.read(nlen)
            lextra = f.read(xlen)
            dt = i.date_time
            dos = ((dt[0] - 1980) << 25) | (dt[1] << 21) | (dt[2] << 16) | (dt[3] << 11) | (dt[4] << 5) | (dt[5] // 2)
            print("entry")
            print("name", i.filename.encode("utf-8", "surrogateescape").hex())
            print("rawname", hexs(lname))
            for key, value in (("create_version", i.create_version), ("create_system", i.create_system),
                               ("extract_version", i.extract_version), ("flags", i.flag_bits),
                               ("method", i.compress_type), ("dostime", dos), ("crc", i.CRC),
                               ("csize", i.compress_size), ("usize", i.file_size),
                               ("internal", i.internal_attr), ("external", i.external_attr),
                               ("offset", i.header_offset),
                               ("local_signature", sig), ("local_version", ver), ("local_flags", flags),
                               ("local_method", method), ("local_dostime", (ldate << 16) | ltime),
                               ("local_crc", crc), ("local_csize", csize), ("local_usize", usize)):
                print(key, value)
            print("extra", hexs(i.extra))
            print("local_extra", hexs(lextra))
    print("size", data_len)
)PY";

inline std::string FromHex(const std::string& hex) {
  if (hex == "-") return std::string();
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// One entry as zipfile reports it: keys as printed by the script above.
struct Entry {
  std::map<std::string, std::string> fields;
  std::string name;     // the name zipfile decoded (UTF-8)
  std::string rawName;  // the bytes stored in the local header
  uint64_t Num(const std::string& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? UINT64_MAX : std::stoull(it->second);
  }
  std::string Hex(const std::string& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? std::string() : FromHex(it->second);
  }
};

enum Readers : unsigned {
  kZipfile = 1,
  kUnzip = 2,
  kSevenZip = 4,
  kBsdtar = 8,
  kAllReaders = 15,
};

struct Report {
  bool ok = true;   // every reader run accepted the archive
  std::string log;  // what went wrong, reader by reader
  std::vector<Entry> entries;
  std::vector<uint64_t> eocd;  // entries on disk, total, size, offset, comment length, position
  bool zip64 = false;          // a ZIP64 locator precedes the end record
  std::vector<uint64_t> zip64Eocd;  // the ZIP64 end record's fields when present
  uint64_t size = 0;
  // The names each reader lists, in its order.
  std::vector<std::string> unzipNames, sevenZipNames, bsdtarNames;
};

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline void Fail(Report& report, const std::string& reader, const ProgramResult& run) {
  report.ok = false;
  report.log += reader + " (exit " + std::to_string(run.exitCode) + "):\n" + run.output + "\n";
}

inline void ReadZipfile(const std::string& path, Report& report) {
  const ProgramResult run = RunProgram({"python3", "-c", kZipfileScript, path});
  if (run.exitCode != 0) return Fail(report, "python3 zipfile", run);
  for (const std::string& line : Lines(run.output)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "entry") {
      report.entries.emplace_back();
      continue;
    }
    std::string value;
    std::getline(words >> std::ws, value);
    if (key == "testzip") {
      if (value != "None")
        Fail(report, "python3 zipfile testzip", {0, "bad entry " + FromHex(value)});
    } else if (key == "eocd" || key == "zip64eocd") {
      std::istringstream numbers(value);
      auto& target = key == "eocd" ? report.eocd : report.zip64Eocd;
      for (uint64_t n; numbers >> n;) target.push_back(n);
    } else if (key == "zip64") {
      report.zip64 = value == "1";
    } else if (key == "size") {
      report.size = std::stoull(value);
    } else if (!report.entries.empty()) {
      Entry& entry = report.entries.back();
      entry.fields[key] = value;
      if (key == "name") entry.name = FromHex(value);
      if (key == "rawname") entry.rawName = FromHex(value);
    }
  }
}

// Runs the readers asked for over the archive at path.
inline Report CheckArchive(const std::string& path, unsigned readers = kAllReaders) {
  Report report;
  if (readers & kZipfile) ReadZipfile(path, report);
  if (readers & kUnzip) {
    const ProgramResult run = RunProgram({"unzip", "-t", path});
    const bool empty = run.output.find("zipfile is empty") != std::string::npos;
    if (!(run.exitCode == 0 || (run.exitCode == 1 && empty))) Fail(report, "unzip -t", run);
    if (!empty) {
      const ProgramResult names = RunProgram({"unzip", "-Z1", path});
      if (names.exitCode != 0) Fail(report, "unzip -Z1", names);
      report.unzipNames = Lines(names.output);
    }
  }
  if (readers & kSevenZip) {
    const ProgramResult run = RunProgram({"7zz", "t", path});
    if (run.exitCode != 0 || run.output.find("Everything is Ok") == std::string::npos)
      Fail(report, "7zz t", run);
    const ProgramResult list = RunProgram({"7zz", "l", "-slt", "-ba", path});
    if (list.exitCode != 0) Fail(report, "7zz l", list);
    for (const std::string& line : Lines(list.output))
      if (line.rfind("Path = ", 0) == 0) report.sevenZipNames.push_back(line.substr(7));
  }
  if (readers & kBsdtar) {
    const ProgramResult run = RunProgram({"bsdtar", "-tf", path});
    if (run.exitCode != 0) Fail(report, "bsdtar -tf", run);
    report.bsdtarNames = Lines(run.output);
  }
  return report;
}

}  // namespace archive_check
