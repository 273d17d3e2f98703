#include "SortedZip.h"

#include <algorithm>
#include <string>

#include "Errors.h"
#include "Text.h"

namespace {

int CompareChars(char a, char b) {
  const auto ca = static_cast<unsigned char>(LowCaseAscii(a));
  const auto cb = static_cast<unsigned char>(LowCaseAscii(b));
  return ca == cb ? 0 : (ca < cb ? -1 : 1);
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (const int c = CompareChars(a[i], b[i]); c != 0) return c;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Compares the texts a1 + a2 and b1 + b2 without building them.
int CompareJoined(std::string_view a1, std::string_view a2, std::string_view b1,
                  std::string_view b2) {
  const auto at = [](std::string_view x1, std::string_view x2, size_t i) {
    return i < x1.size() ? x1[i] : x2[i - x1.size()];
  };
  const size_t n = a1.size() + a2.size();
  const size_t m = b1.size() + b2.size();
  for (size_t i = 0; i < std::min(n, m); ++i) {
    if (const int c = CompareChars(at(a1, a2, i), at(b1, b2, i)); c != 0) return c;
  }
  return n == m ? 0 : (n < m ? -1 : 1);
}

// The stored name Directory + FileName of h against name.
int CompareName(const TZipHeaderInfo& h, std::string_view name) {
  return CompareJoined(h.Directory(), h.FileName(), name, {});
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Compressed bytes per uncompressed byte; an empty entry counts as 0.
double Rate(const TZipHeaderInfo& h) {
  return h.UncompressedSize > 0
             ? static_cast<double>(h.CompressedSize) / static_cast<double>(h.UncompressedSize)
             : 0.0;
}

}  // namespace

TSortedZip::TSortedZip(TZipSortMode mode, TDuplicates duplicates, TOwnership ownership)
    : mode_(mode), duplicates_(duplicates), ownership_(ownership) {}

TSortedZip::~TSortedZip() {
  Clear();
}

TSortedZip::TSortedZip(TSortedZip&& other) noexcept
    : items_(std::move(other.items_)),
      mode_(other.mode_),
      duplicates_(other.duplicates_),
      ownership_(other.ownership_) {
  other.items_.clear();
}

TSortedZip& TSortedZip::operator=(TSortedZip&& other) noexcept {
  if (this != &other) {
    Clear();
    items_ = std::move(other.items_);
    other.items_.clear();
    mode_ = other.mode_;
    duplicates_ = other.duplicates_;
    ownership_ = other.ownership_;
  }
  return *this;
}

int TSortedZip::Compare(const TZipHeaderInfo& a, const TZipHeaderInfo& b) const {
  switch (mode_) {
    case TZipSortMode::ByName:
      return CompareJoined(a.Directory(), a.FileName(), b.Directory(), b.FileName());
    case TZipSortMode::ByFileName:
      return CompareText(a.FileName(), b.FileName());
    case TZipSortMode::ByDirectoryName: {
      const int dir = CompareText(a.Directory(), b.Directory());
      return dir != 0 ? dir : CompareText(a.FileName(), b.FileName());
    }
    case TZipSortMode::ByDate:
      return Order(a.LastModDateTime, b.LastModDateTime);
    case TZipSortMode::ByCompressedSize:
      return Order(a.CompressedSize, b.CompressedSize);
    case TZipSortMode::ByUnCompressedSize:
      return Order(a.UncompressedSize, b.UncompressedSize);
    case TZipSortMode::ByRate:
      return Order(Rate(a), Rate(b));
    case TZipSortMode::ByNone:
      break;
  }
  const int disk = Order(a.DiskNumberStart, b.DiskNumberStart);
  return disk != 0 ? disk : Order(a.RelativeOffset, b.RelativeOffset);
}

void TSortedZip::SetSortMode(TZipSortMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const auto* a, const auto* b) { return Compare(*a, *b) < 0; });
}

int TSortedZip::Add(TZipHeaderInfo* item) {
  // First place whose key is greater: equal keys, when accepted, keep the
  // order they came in.
  const auto at =
      std::upper_bound(items_.begin(), items_.end(), item,
                       [this](const auto* a, const auto* b) { return Compare(*a, *b) < 0; });
  if (duplicates_ == TDuplicates::Error && at != items_.begin() &&
      Compare(**(at - 1), *item) == 0) {
    throw EListError("Duplicate Object index");
  }
  const auto index = at - items_.begin();
  items_.insert(at, item);
  return static_cast<int>(index);
}

int TSortedZip::IndexOf(const TZipHeaderInfo& probe) const {
  const auto at =
      std::lower_bound(items_.begin(), items_.end(), &probe,
                       [this](const auto* a, const auto* b) { return Compare(*a, *b) < 0; });
  if (at == items_.end() || Compare(**at, probe) != 0) return -1;
  return static_cast<int>(at - items_.begin());
}

TZipHeaderInfo* TSortedZip::FindName(std::string_view name) const {
  if (mode_ == TZipSortMode::ByName) {
    const auto at = std::lower_bound(
        items_.begin(), items_.end(), name,
        [](const TZipHeaderInfo* a, std::string_view key) { return CompareName(*a, key) < 0; });
    return at != items_.end() && CompareName(**at, name) == 0 ? *at : nullptr;
  }
  for (auto* item : items_) {
    if (CompareName(*item, name) == 0) return item;
  }
  return nullptr;
}

void TSortedZip::Delete(int index) {
  TZipHeaderInfo* item = Extract(index);
  if (OwnsObjects()) delete item;
}

TZipHeaderInfo* TSortedZip::Extract(int index) {
  const auto at = items_.begin() + index;
  TZipHeaderInfo* item = *at;
  items_.erase(at);
  return item;
}

void TSortedZip::Clear() {
  if (OwnsObjects()) {
    for (auto* item : items_) delete item;
  }
  items_.clear();
}
