// What both systems share of writing through a folder's handle: the names of
// our temporary files and which of them a run may remove, the swap of two
// names, the test's view of the durable calls, and letting the handles go.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "FileOutput.h"

namespace {

constexpr char kTempSuffix[] = ".tzw-";
// Where a swap that the file system cannot make in one step keeps a file for
// a moment; never removed by a run, since it may hold an earlier archive.
constexpr char kAsideSuffix[] = ".tzk-";
constexpr char kArchiveExtension[] = ".zip";
constexpr size_t kTempSuffixLength = sizeof kTempSuffix - 1;
constexpr size_t kRandomLength = 6;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

std::atomic<TFileCallObserver> g_observer{nullptr};
std::atomic<bool> g_namedTemps{false};

// Six characters for a new name, random so that two programs (or two runs)
// do not take turns colliding.
std::string RandomPart() {
  thread_local std::mt19937 generator = [] {
    std::random_device device;
    std::seed_seq seed{
        device(), device(),
        static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())),
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return std::mt19937(seed);
  }();
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string part(kRandomLength, ' ');
  for (char& c : part) c = kAlphabet[pick(generator)];
  return part;
}

}  // namespace

void SetFileCallObserver(TFileCallObserver observer) {
  g_observer.store(observer);
}

void NoteFileCall(const char* call, THandle handle) {
  if (const TFileCallObserver observer = g_observer.load(std::memory_order_relaxed)) {
    observer(call, handle);
  }
}

void UseNamedTempFiles(bool named) {
  g_namedTemps = named;
}

bool NamedTempFilesForced() {
  return g_namedTemps.load(std::memory_order_relaxed);
}

bool IsTempName(const std::string& name) {
  constexpr size_t tail = kTempSuffixLength + kRandomLength;
  if (name.size() <= tail || name.compare(name.size() - tail, kTempSuffixLength, kTempSuffix) != 0)
    return false;
  for (size_t i = name.size() - kRandomLength; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

namespace {

std::string NameWithSuffix(const std::string& name, size_t maxName, const char* suffix) {
  constexpr size_t tail = kTempSuffixLength + kRandomLength;
  std::string base = name;
  // A name near its file system's limit leaves no room for the suffix: the
  // temporary file takes a shortened name.
  if (maxName > tail && base.size() + tail > maxName) base.resize(maxName - tail);
  return base + suffix + RandomPart();
}

}  // namespace

std::string TempNameFor(const std::string& name, size_t maxName) {
  return NameWithSuffix(name, maxName, kTempSuffix);
}

std::string StaleTempRefusal(const std::string& name, size_t maxName, const TFileStamp& stamp,
                             const unsigned char* head, size_t headSize, bool live,
                             bool twinElsewhere) {
  constexpr size_t tail = kTempSuffixLength + kRandomLength;
  const std::string base = name.size() > tail ? name.substr(0, name.size() - tail) : std::string();
  constexpr size_t extension = sizeof kArchiveExtension - 1;
  const bool besideArchive =
      (base.size() > extension &&
       base.compare(base.size() - extension, extension, kArchiveExtension) == 0) ||
      name.size() == maxName;
  if (!besideArchive) return "its name is not that of an archive's temporary";
  if (live) return {};  // held by a live run: neither ours to remove nor to report
  if (!stamp.mine) return "another user's file";
  if (stamp.links > 2 || (stamp.links == 2 && !twinElsewhere)) return "it has other names";
  if (stamp.links == 2) return {};  // a generation's second name: removing it loses nothing
#ifndef _WIN32
  if (stamp.mode != 0600) return "its mode is not that of a temporary";
#endif
  const bool zipLike =
      headSize == 0 || (headSize == 4 && (std::memcmp(head, "PK\x03\x04", 4) == 0 ||
                                          std::memcmp(head, "PK\x05\x06", 4) == 0));
  if (!zipLike) return "it does not begin like a ZIP archive";
  return {};
}

std::vector<TOutputDir::TStaleTemp> TOutputDir::StaleTemps(TStale action) const {
  std::vector<TStaleTemp> found;
  const auto names = List();
  for (const std::string& name : names) {
    if (!IsTempName(name)) continue;
    THandle handle = InvalidHandle;
    TTempLook look;
    const int error = LookAtTemp(name, handle, look);
    std::string why;
    if (error == ErrNotRegularFile || error == ELOOP || error == EISDIR) {
      why = "not a regular file";
    } else if (error != 0) {
      why = std::string("it could not be read: ") + SysErrorMessage(error);
    } else {
      // Its other name, if it has one, must be the archive it sits beside
      // or one of that archive's generations; only then are names looked at.
      bool twin = false;
      const std::string base = name.substr(0, name.size() - kTempSuffixLength - kRandomLength);
      for (const std::string& other : names) {
        if (look.stamp.links != 2 || twin || other == name ||
            other.compare(0, base.size(), base) != 0)
          continue;
        const std::string rest = other.substr(base.size());
        twin = (rest.empty() || (rest.size() > 1 && rest[0] == '.' &&
                                 rest.find_first_not_of("0123456789", 1) == std::string::npos)) &&
               Holds(other, look.stamp.id);
      }
      why = StaleTempRefusal(name, maxName_, look.stamp, look.head, look.headSize, look.live, twin);
      if (why.empty() && look.live) {
        if (handle != InvalidHandle) FileClose(handle);
        continue;
      }
    }
    if (why.empty() && action == TStale::Remove && !RemoveTemp(name, handle))
      why = "it changed while it was looked at";
    if (handle != InvalidHandle) FileClose(handle);
    // A file that is plainly not ours by its name is not worth a word.
    if (why == "its name is not that of an archive's temporary") continue;
    found.push_back({name, why});
  }
  return found;
}

bool TOutputDir::Holds(const std::string& name, const TFileId& id) const {
  const TEntryStatus now = StatusAt(name);
  return now.kind == TEntryKind::Regular && now.stamp.id == id;
}

int TOutputDir::Exchange(const std::string& a, const TFileId& idA, const std::string& b,
                         const TFileId& idB, THandle heldA) const {
  NoteFileCall("exchange", handle_);
  if (!Holds(a, idA) || !Holds(b, idB)) return ErrNameTaken;
  int error = ExchangeAtomic(a, b);
  if (error == 0) {
    // Swapped with whatever the names held in that instant: a file another
    // program put there goes back, and the swap counts as not made.
    if (Holds(a, idB) && Holds(b, idA)) return 0;
    ExchangeAtomic(a, b);
    return ErrNameTaken;
  }
  if (error != ErrNoExchange) return error;
  // Three moves, none replacing a file: b's file waits under a name of ours
  // that no run removes, so a stop between them loses nothing.
  std::string aside;
  error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    aside = NameWithSuffix(b, maxName_, kAsideSuffix);
    error = KeepAs(b, idB, aside, false);
  }
  if (error != 0) return error;
  if ((error = MoveHeld(a, idA, b, heldA)) != 0) {
    KeepAs(aside, idB, b, false);
    return error;
  }
  if ((error = KeepAs(aside, idB, a, false)) != 0) {
    if (MoveHeld(b, idA, a, heldA) == 0) KeepAs(aside, idB, b, false);
    return error;
  }
  return 0;
}

void TOutputDir::Close() {
  if (handle_ != InvalidHandle) FileClose(handle_);
  handle_ = InvalidHandle;
  path_.clear();
}

void TOutputDir::Release(TTempFile& temp) {
  if (temp.handle != InvalidHandle) FileClose(temp.handle);
  temp.handle = InvalidHandle;
}
