// What both systems share of writing through a folder's handle: the names of
// our temporary files, the test's view of the durable calls, and letting the
// handles go.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "FileOutput.h"

namespace {

constexpr char kTempSuffix[] = ".tzw-";
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

std::string TempNameFor(const std::string& name, size_t maxName) {
  constexpr size_t tail = kTempSuffixLength + kRandomLength;
  std::string base = name;
  // A name near its file system's limit leaves no room for the suffix: the
  // temporary file takes a shortened name.
  if (maxName > tail && base.size() + tail > maxName) base.resize(maxName - tail);
  return base + kTempSuffix + RandomPart();
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
