#include "DbzipStatus.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

#include "Files.h"
#include "PrintedName.h"

void ResultOut::Line(const std::string& text) {
  errno = 0;
  out_ << text << '\n' << std::flush;
  if (!out_ && error_ == 0) error_ = errno != 0 ? errno : EIO;
}

void Printer::Counted(const std::vector<TRunDatabase>& dbs) {
  std::lock_guard lock(mutex_);
  count_ = dbs.size();
  for (const TRunDatabase& db : dbs) totalBytes_ += db.size;
  zipStart_ = DbzipClock::now();
}

void Printer::Starting(int slot, const TRunDatabase& db) {
  std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(slot)] = {db.source, 0, db.size, DbzipClock::now()};
  if (status_)
    DrawStatus();
  else if (!quiet_)
    out_.Line("Zipping " + QuoteName(db.source) + "...");
}

void Printer::Percent(int slot, int percent) {
  if (!status_) return;
  std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(slot)].percent = percent;
  const auto now = DbzipClock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(100) && percent != 100) return;
  lastDraw_ = now;
  DrawStatus();
}

double Printer::Finished(int slot, const TRunDatabase& db) {
  std::lock_guard lock(mutex_);
  Slot& s = slots_[static_cast<size_t>(slot)];
  const double seconds = std::chrono::duration<double>(DbzipClock::now() - s.start).count();
  s.name.clear();
  ++done_;
  doneBytes_ += db.size;
  if (quiet_ || !db.result.InPlace()) {
    if (status_) DrawStatus();
    return seconds;
  }
  ClearStatus();
  if (db.result.outcome == TZipOutcome::Unchanged) {
    out_.Line(QuoteName(db.source) + ": unchanged");
  } else {
    // The dry run's line, SOURCE -> ARCHIVE, with the sizes after ": ", which
    // no printed name holds whole.
    out_.Line(QuoteName(db.source) + " -> " + QuoteName(db.archivePath) + ": " +
              std::to_string(db.result.bytesRead) + " bytes -> " +
              std::to_string(db.result.archiveSize) + " bytes");
  }
  if (status_) DrawStatus();
  return seconds;
}

void Printer::Error(const std::string& text) {
  std::lock_guard lock(mutex_);
  ClearStatus();
  err_ << "dbzip: " << text << std::endl;
}

void Printer::Line(const std::string& text) {
  if (quiet_) return;
  std::lock_guard lock(mutex_);
  ClearStatus();
  out_.Line(text);
}

void Printer::ClearStatus() {
  if (status_) err_ << "\r\033[K" << std::flush;
}

void Printer::DrawStatus() {
  uint64_t bytes = doneBytes_;
  for (const Slot& s : slots_)
    if (!s.name.empty()) bytes += s.size / 100 * static_cast<uint64_t>(s.percent);
  bytes = std::min(bytes, totalBytes_);
  const double seconds = std::chrono::duration<double>(DbzipClock::now() - zipStart_).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
  char progress[160];
  std::snprintf(progress, sizeof progress, "%zu of %zu databases  %.1f of %.1f MB  %.1f MB/s",
                done_, count_, static_cast<double>(bytes) / 1e6,
                static_cast<double>(totalBytes_) / 1e6, rate / 1e6);
  std::ostringstream line;
  line << progress;
  // A rate taken over less than a second says little of the rest.
  if (seconds >= 1 && rate > 0) {
    const auto left = static_cast<uint64_t>(static_cast<double>(totalBytes_ - bytes) / rate);
    char leftText[48];
    std::snprintf(leftText, sizeof leftText, "  %llu:%02llu:%02llu left",
                  static_cast<unsigned long long>(left / 3600),
                  static_cast<unsigned long long>(left / 60 % 60),
                  static_cast<unsigned long long>(left % 60));
    line << leftText;
  }
  for (const Slot& s : slots_) {
    if (s.name.empty()) continue;
    line << "  |  " << QuoteName(ExtractFileName(s.name)) << "  " << s.percent << "%";
  }
  err_ << "\r\033[K" << line.str() << std::flush;
}
