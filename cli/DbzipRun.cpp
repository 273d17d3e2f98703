#include "DbzipRun.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <vector>

#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "Run.h"
#include "RunDriver.h"

std::atomic<bool> g_dbzipInterrupted{false};

namespace {

// The length of the UTF-8 sequence at text[i] and its code point, or 0 when
// the byte there starts none.
size_t Utf8At(std::string_view text, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = b(0);
  size_t len = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  // Overlong forms, surrogates and code points past Unicode are not UTF-8.
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return len;
}

// Control characters, and the format characters that end a line or turn the
// text's direction around on a terminal.
bool Unprintable(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// The length of the run of bytes at text[i] that must be escaped: one
// invalid byte or one unprintable character; 0 when the character there
// prints as itself (its length then in len).
size_t EscapedAt(std::string_view text, size_t i, size_t& len) {
  char32_t cp = 0;
  len = Utf8At(text, i, cp);
  if (len == 0) return 1;
  return Unprintable(cp) ? len : 0;
}

void AppendEscape(std::string& out, unsigned char c) {
  switch (c) {
    case '\a':
      out += "\\a";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\v':
      out += "\\v";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      break;
  }
  const char octal[] = {'\\', static_cast<char>('0' + (c >> 6)),
                        static_cast<char>('0' + ((c >> 3) & 7)), static_cast<char>('0' + (c & 7))};
  out.append(octal, sizeof octal);
}

}  // namespace

std::string QuoteName(std::string_view name) {
  bool quote = name.empty() || name.find('\'') != std::string_view::npos ||
               name.find(": ") != std::string_view::npos ||
               name.find(" -> ") != std::string_view::npos;
  for (size_t i = 0, len = 0; !quote && i < name.size(); i += len) {
    if (EscapedAt(name, i, len) != 0) quote = true;
  }
  if (!quote) return std::string(name);

  enum { None, Literal, Escape } state = None;
  std::string out;
  const auto enter = [&](decltype(state) next) {
    if (state == next) return;
    if (state != None) out += '\'';
    if (next == Literal) out += '\'';
    if (next == Escape) out += "$'";
    state = next;
  };
  for (size_t i = 0, len = 0; i < name.size(); i += len) {
    if (const size_t run = EscapedAt(name, i, len); run != 0) {
      enter(Escape);
      for (size_t k = 0; k < run; ++k) AppendEscape(out, static_cast<unsigned char>(name[i + k]));
      len = run;
    } else if (name[i] == '\'') {
      enter(None);
      out += "\\'";
    } else {
      enter(Literal);
      // The separators are split by an empty quote, so that neither appears
      // in a quoted name and a line splits at its own separators only.
      const bool splitsColon = name[i] == ' ' && i >= 1 && name[i - 1] == ':';
      const bool splitsArrow = name[i] == '>' && i >= 2 && name[i - 1] == '-' && name[i - 2] == ' ';
      if (splitsColon || splitsArrow) out += "''";
      out.append(name.substr(i, len));
    }
  }
  if (state == None && (out.empty() || out.back() != '\'')) {
    enter(Literal);  // an empty name is ''
  }
  enter(None);
  return out;
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0, len = 0; i < text.size(); i += len) {
    if (const size_t run = EscapedAt(text, i, len); run != 0) {
      for (size_t k = 0; k < run; ++k) AppendEscape(out, static_cast<unsigned char>(text[i + k]));
      len = run;
    } else {
      out.append(text.substr(i, len));
    }
  }
  return out;
}

namespace {

using Clock = std::chrono::steady_clock;

// Standard output, where the results go: each line is flushed as it is
// written, and the first failure kept with the system's reason, since results
// that never arrived make the run a failure.
class ResultOut {
 public:
  explicit ResultOut(std::ostream& out) : out_(out) {}
  void Line(const std::string& text) {
    errno = 0;
    out_ << text << '\n' << std::flush;
    if (!out_ && error_ == 0) error_ = errno != 0 ? errno : EIO;
  }
  int Error() const { return error_; }

 private:
  std::ostream& out_;
  int error_ = 0;
};

// Serialises everything printed while workers run. Results go to out; the
// status line, when there is one, and the diagnostics to err, so that a pipe
// or a file on standard output gets the results alone.
class Printer {
 public:
  Printer(ResultOut& out, std::ostream& err, bool statusLine, bool quiet, int slots)
      : out_(out), err_(err), status_(statusLine && !quiet), quiet_(quiet), slots_(slots) {}

  void Starting(int slot, const TRunDatabase& db) {
    std::lock_guard lock(mutex_);
    slots_[slot] = {db.source, 0, db.size, Clock::now()};
    if (quiet_) return;
    if (status_)
      DrawStatus();
    else
      out_.Line("Zipping " + QuoteName(db.source) + "...");
  }

  void Percent(int slot, int percent) {
    if (!status_) return;
    std::lock_guard lock(mutex_);
    slots_[slot].percent = percent;
    const auto now = Clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(100) && percent != 100) return;
    lastDraw_ = now;
    DrawStatus();
  }

  void Finished(int slot, const TRunDatabase& db) {
    std::lock_guard lock(mutex_);
    slots_[slot].name.clear();
    if (quiet_ || !db.result.InPlace()) {
      if (status_) DrawStatus();
      return;
    }
    ClearStatus();
    out_.Line(QuoteName(db.source) + ": " + std::to_string(db.result.bytesRead) + " bytes -> " +
              std::to_string(db.result.archiveSize) + " bytes");
    if (status_) DrawStatus();
  }

  void Error(const std::string& text) {
    std::lock_guard lock(mutex_);
    ClearStatus();
    err_ << "dbzip: " << text << std::endl;
  }

  void Line(const std::string& text) {
    if (quiet_) return;
    std::lock_guard lock(mutex_);
    ClearStatus();
    out_.Line(text);
  }

 private:
  struct Slot {
    std::string name;
    int percent = 0;
    uint64_t size = 0;
    Clock::time_point start;
  };

  // Before anything else is printed: out and err may be the same terminal.
  void ClearStatus() {
    if (status_) err_ << "\r\033[K" << std::flush;
  }

  // One line, redrawn in place: each database being zipped, its percentage
  // and its reading speed.
  void DrawStatus() {
    std::ostringstream line;
    for (const Slot& s : slots_) {
      if (s.name.empty()) continue;
      const double seconds = std::chrono::duration<double>(Clock::now() - s.start).count();
      const double mb = static_cast<double>(s.size) * s.percent / 100.0 / 1e6;
      char speed[32];
      std::snprintf(speed, sizeof speed, "%.1f MB/s", seconds > 0 ? mb / seconds : 0.0);
      if (line.tellp() > 0) line << "  |  ";
      line << QuoteName(ExtractFileName(s.name)) << "  " << s.percent << "%  " << speed;
    }
    err_ << "\r\033[K" << line.str() << std::flush;
  }

  ResultOut& out_;
  std::ostream& err_;
  const bool status_;
  const bool quiet_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  Clock::time_point lastDraw_{};
};

}  // namespace

namespace {

// Why dir cannot be a source or output directory, with the system's reason
// where it has one; empty when it can.
std::string FolderProblem(const std::string& dir) {
  switch (CheckFolder(dir)) {
    case TFolderProblem::None:
      return {};
    case TFolderProblem::NotAFolder:
      return "not a directory";
    case TFolderProblem::Missing:
      break;
  }
  // Missing or out of reach: opening it tells which, in the system's words.
  const THandle handle = FileOpen(dir, TFileAccess::Read);
  if (handle != InvalidHandle) {
    FileClose(handle);
    return "not a directory";
  }
  return SysErrorMessage(errno);
}

std::string FailureText(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

// dbzip as a view of the run: each database as it starts and ends, the
// report and the summary at the end, and the exit status they make.
class DbzipView : public TRunView {
 public:
  DbzipView(const DbzipOptions& options, Printer& printer, ResultOut& results, std::ostream& err)
      : options_(options), printer_(printer), results_(results), err_(err) {}

  void Zipping(int slot, const TRunDatabase& db) override { printer_.Starting(slot, db); }
  void Percent(int slot, int percent) override { printer_.Percent(slot, percent); }
  void Zipped(int slot, const TRunDatabase& db) override { printer_.Finished(slot, db); }

  void Ended(const TRun& run, TRunEnd end) override {
    status_ = options_.dryRun ? EndPlan(run, end) : EndRun(run, end);
  }

  int Status() const { return status_; }

 private:
  // Everything reported, in the order met.
  void PrintReport(const TRun& run) {
    for (const auto& c : run.Report().Cases())
      printer_.Error(QuoteName(c.source) + ": " + EscapeControls(c.reason));
  }

  // A run that found nothing is said to have done so: a missing -r or an
  // empty mount point must not look like a good backup.
  int NothingFound(const TRun& run, int status) {
    if (!run.Databases().empty() || options_.allowEmpty) return status;
    printer_.Error("no database found in " + QuoteName(options_.sourceDir));
    return status == kExitOk ? kExitNothingFound : status;
  }

  int EndRun(const TRun& run, TRunEnd end) {
    PrintReport(run);
    if (end == TRunEnd::Failed) {
      printer_.Error(EscapeControls(FailureText(run.Failure())));
      return kExitNotAllArchived;
    }
    if (end == TRunEnd::Canceled) {
      printer_.Error("interrupted");
      return kExitInterrupted;
    }
    uint64_t bytesIn = 0, bytesOut = 0;
    const auto survivors = run.Survivors();
    for (const TRunDatabase* db : survivors) {
      bytesIn += static_cast<uint64_t>(db->result.bytesRead);
      bytesOut += static_cast<uint64_t>(db->result.archiveSize);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    char timeText[32];
    std::snprintf(timeText, sizeof timeText, "%.2f s", seconds);
    const size_t found = run.Databases().size();
    std::ostringstream summary;
    summary << found << (found == 1 ? " database" : " databases") << " found, " << survivors.size()
            << " archived, " << bytesIn << " bytes in, " << bytesOut << " bytes out, " << timeText;
    printer_.Line(summary.str());
    return NothingFound(run, run.Report().Empty() ? kExitOk : kExitNotAllArchived);
  }

  // What the run would do with each database found, as lines on standard
  // output: the archive each would get, and what would be skipped and why.
  int EndPlan(const TRun& run, TRunEnd end) {
    if (end == TRunEnd::Failed) {
      printer_.Error(EscapeControls(FailureText(run.Failure())));
      return kExitNotAllArchived;
    }
    if (end == TRunEnd::Canceled) {
      printer_.Error("interrupted");
      return kExitInterrupted;
    }
    size_t archived = 0, notArchived = 0;
    // The folders the search could not list come first, as it met them.
    for (const auto& c : run.Report().Cases()) {
      results_.Line(QuoteName(c.source) + ": would be skipped: " + EscapeControls(c.reason));
      ++notArchived;
    }
    const auto& dbs = run.Databases();
    for (const TRunDatabase& db : dbs) {
      if (!db.result.reason.empty()) {
        results_.Line(QuoteName(db.source) +
                      ": would be skipped: " + EscapeControls(db.result.reason));
        ++notArchived;
      } else if (db.replacedBy != SIZE_MAX) {
        results_.Line(QuoteName(db.source) + ": its archive " + QuoteName(db.archivePath) +
                      " would be replaced by " + QuoteName(dbs[db.replacedBy].source));
        ++notArchived;
      } else {
        if (!options_.quiet)
          results_.Line(QuoteName(db.source) + " -> " + QuoteName(db.archivePath));
        ++archived;
      }
    }
    if (!options_.quiet) {
      results_.Line(std::to_string(dbs.size()) + (dbs.size() == 1 ? " database" : " databases") +
                    " found, " + std::to_string(archived) + " would be archived");
    }
    return NothingFound(run, notArchived == 0 ? kExitOk : kExitNotAllArchived);
  }

  const DbzipOptions& options_;
  Printer& printer_;
  ResultOut& results_;
  std::ostream& err_;
  const Clock::time_point started_ = Clock::now();
  int status_ = kExitOk;
};

}  // namespace

int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool statusLine,
             const std::atomic<bool>& cancel) {
  if (const std::string problem = MaskListProblem(options.FileMask()); !problem.empty()) {
    err << "dbzip: " << EscapeControls(problem) << std::endl;
    return kExitUsage;
  }
  for (const std::string* dir : {&options.sourceDir, &options.outputDir}) {
    if (const std::string problem = FolderProblem(*dir); !problem.empty()) {
      err << "dbzip: " << QuoteName(*dir) << ": " << problem << std::endl;
      return kExitUsage;
    }
  }
  TRunRequest request;
  request.sourceDir = options.sourceDir;
  request.outputDir = options.outputDir;
  request.recursive = options.recursive;
  request.mask = options.FileMask();
  request.level = options.level;
  request.tags = options.RemoveTags() ? TagRemoval::Remove : TagRemoval::Keep;
  request.jobs = options.jobs;

  ResultOut results(out);
  Printer printer(results, err, statusLine && !options.dryRun, options.quiet, options.jobs);
  DbzipView view(options, printer, results, err);
  TRun run(view);
  if (options.dryRun)
    run.Plan(request, cancel);
  else
    run.Execute(request, cancel);
  // Results that never reached their file (a full disk, a closed pipe) are a
  // failure of the run, not a success.
  if (results.Error() == 0) return view.Status();
  err << "dbzip: standard output: " << SysErrorMessage(results.Error()) << std::endl;
  return view.Status() == kExitOk ? kExitNotAllArchived : view.Status();
}
