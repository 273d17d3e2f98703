// TSortedZip: an ordered list of entry records. Archive order (ByNone) fixes
// the central directory; ByName finds an entry by its stored name. Insertion
// is a binary search; a list that refuses duplicates raises EListError
// "Duplicate Object index" for a key already present.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Classes.h"
#include "ZipRecords.h"

enum class TZipSortMode {
  ByName,              // Directory + FileName, ASCII case ignored
  ByFileName,          // FileName, ASCII case ignored
  ByDirectoryName,     // Directory, then FileName, ASCII case ignored
  ByDate,              // LastModDateTime
  ByCompressedSize,    // CompressedSize
  ByUnCompressedSize,  // UncompressedSize
  ByRate,              // compressed share of the uncompressed size
  ByNone,              // DiskNumberStart, then RelativeOffset: archive order
};

enum class TDuplicates { Accept, Error };
enum class TOwnership { Owning, NotOwning };

class TSortedZip : public TObject {
 public:
  explicit TSortedZip(TZipSortMode mode = TZipSortMode::ByNone,
                      TDuplicates duplicates = TDuplicates::Error,
                      TOwnership ownership = TOwnership::Owning);
  ~TSortedZip() override;
  TSortedZip(const TSortedZip&) = delete;
  TSortedZip& operator=(const TSortedZip&) = delete;
  TSortedZip(TSortedZip&& other) noexcept;
  TSortedZip& operator=(TSortedZip&& other) noexcept;

  TZipSortMode SortMode() const { return mode_; }
  // Re-sorts the records by the new key (stable: equal keys keep their order).
  void SetSortMode(TZipSortMode mode);
  bool OwnsObjects() const { return ownership_ == TOwnership::Owning; }

  int Count() const { return static_cast<int>(items_.size()); }
  TZipHeaderInfo* operator[](int index) const { return items_[static_cast<size_t>(index)]; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  // Inserts at the place the key gives and returns that index. An owning list
  // takes ownership once it returns; when it raises the caller keeps it.
  int Add(TZipHeaderInfo* item);
  // Index of a record whose key equals the probe's, or -1.
  int IndexOf(const TZipHeaderInfo& probe) const;
  // The record stored as name (Directory + FileName, ASCII case ignored), or
  // nullptr. Binary search when sorted ByName, else a walk.
  TZipHeaderInfo* FindName(std::string_view name) const;

  // Removes the record at index, freeing it when the list owns its records.
  void Delete(int index);
  // Removes the record at index and hands it to the caller.
  TZipHeaderInfo* Extract(int index);
  void Clear();

 private:
  int Compare(const TZipHeaderInfo& a, const TZipHeaderInfo& b) const;

  std::vector<TZipHeaderInfo*> items_;
  TZipSortMode mode_;
  TDuplicates duplicates_;
  TOwnership ownership_;
};
