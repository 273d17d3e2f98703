#include "ZipWriter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>

#include "BufferStream.h"
#include "Crc32.h"
#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "SortedZip.h"
#include "Text.h"
#include "Ui.h"

namespace {

__extension__ typedef unsigned __int128 uint128;

// Stored entries are read and written in blocks of this size.
constexpr unsigned kStoreBlock = 16000;
// Existing entries are copied in blocks of this size on an update.
constexpr int64_t kCopyBlock = 65536;
// General purpose bit 3: sizes and CRC-32 follow the data.
constexpr uint16_t kDataDescriptorFlag = 0x0008;
// Names of the temporary archives of an update start with these letters.
constexpr const char* kTempPrefix = "tzw";
constexpr uint8_t kMarkedForRemoval = 2;

// The most data bytes an entry can take for its input bytes. Stored data is
// the input itself. The encoder falls back to stored blocks for data it
// cannot shrink, adding a few bytes per block; the margin here covers that
// many times over, so the ZIP64 room is reserved whenever it may be needed.
constexpr int64_t MaxDataSize(int64_t input, bool stored) {
  return stored ? input : input + input / 256 + 65536;
}

// True when an entry of this input size may need the ZIP64 sizes.
constexpr bool MayNeedZip64Sizes(int64_t input, bool stored) {
  return MaxDataSize(input, stored) >= Zip64Limit32;
}

// The most input an entry without the ZIP64 sizes takes: a file that grows
// beyond it while it is read is cut there, so its entry stays consistent.
constexpr int64_t ClassicInputLimit(bool stored) {
  int64_t n = stored ? Zip64Limit32 - 1 : (Zip64Limit32 - 1 - 65536) / 257 * 256;
  while (!MayNeedZip64Sizes(n + 1, stored)) ++n;
  while (MayNeedZip64Sizes(n, stored)) --n;
  return n;
}

static_assert(ClassicInputLimit(true) == 0xFFFFFFFE);
static_assert(!MayNeedZip64Sizes(ClassicInputLimit(false), false));
static_assert(MayNeedZip64Sizes(ClassicInputLimit(false) + 1, false));

// The size of what path names now, or 0.
int64_t CurrentSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<int64_t>(size);
}

// True when the file's last-write time is later than an entry's date, both
// compared as repaired MS-DOS date-time values.
bool FileIsNewer(const std::string& path, uint32_t entryDate) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  if (error) return false;
  const auto seconds =
      std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
  // The packed value puts the year first and the seconds last, so numeric
  // order is chronological order.
  return RepairDosDateTime(DosDateTimeFromUnix(seconds)) > RepairDosDateTime(entryDate);
}

}  // namespace

int PercentOf(int64_t done, int64_t total) {
  if (total <= 0 || done <= 0) return 0;
  if (done >= total) return 100;
  // Exact integer rounding: done * 100 / total, half to even.
  const auto scaled = static_cast<uint128>(done) * 100;
  const auto divisor = static_cast<uint128>(total);
  auto quotient = static_cast<int64_t>(scaled / divisor);
  const auto twice = (scaled % divisor) * 2;
  if (twice > divisor || (twice == divisor && (quotient & 1) != 0)) ++quotient;
  return static_cast<int>(std::min<int64_t>(quotient, 100));
}

TZipWriter::TZipWriter() = default;

TZipWriter::~TZipWriter() = default;

void TZipWriter::SetRootDir(const std::string& value) {
  rootDir_ = value;
  if (!rootDir_.empty() && rootDir_.back() != PathDelim) rootDir_ += PathDelim;
}

void TZipWriter::SetStorePaths(bool value) {
  if (value == storePaths_) return;
  storePaths_ = value;
  if (!value) {
    relativePaths_ = false;
    storeVolumes_ = false;
  }
}

void TZipWriter::SetRelativePaths(bool value) {
  relativePaths_ = value;
  if (value) {
    storePaths_ = true;
    Recurse = true;
  }
}

void TZipWriter::SetStoreVolumes(bool value) {
  storeVolumes_ = value;
  if (value) storePaths_ = true;
}

// --- The run ---

int TZipWriter::Zip() {
  const int added = ProcessFiles();
  if (OnZipComplete) OnZipComplete(this, added);
  return added;
}

int TZipWriter::ProcessFiles() {
  currentDisk_ = 0;
  // The common clean-up runs however the run ends.
  struct CommonCleanup {
    TZipWriter& writer;
    TZipSortMode sortMode;
    bool keepZipOpen;
    ~CommonCleanup() {
      writer.SortMode = sortMode;
      writer.KeepZipOpen = keepZipOpen;
      writer.byName_.reset();
      writer.newEnd_.reset();
      writer.disposeList_.clear();
      if (!writer.KeepZipOpen) writer.CloseArchiveStream();
    }
  } common{*this, SortMode, KeepZipOpen};
  KeepZipOpen = true;
  SortMode = TZipSortMode::ByNone;

  totalBytes_ = 0;
  bytesDone_ = 0;
  // Freshening needs the directory of the archive before the list is
  // filtered by it, also when no earlier run left it in memory.
  if (ZipAction == TZipAction::zaFreshen && FileExists(ZipName())) LoadArchiveDirectory();
  if (!FilesList.empty()) ExpandFileList();

  const bool update = FileExists(ZipName());
  std::string tempPath;
  int added = 0;
  try {
    buffers_ = DeflateWorkBuffers::Allocate();
    if (update) {
      const std::string dir = GetTempDir(TempPath);
      tempPath = CreateTempFile(dir, kTempPrefix);
      if (tempPath.empty()) {
        const std::string reason = SysErrorMessage(errno);
        throw EFCreateError(FormatMessage("Cannot create file %s", {dir + kTempPrefix}) + ": " +
                            reason);
      }
      outputPath_ = tempPath;
      outputCreated_ = true;
      OpenOutput(tempPath);
      CopyExistingEntries(added);
    } else {
      OpenOutput(ZipName());
    }
    AddFiles(added);
    WriteCentralDirectory();
    FinishOutput();
  } catch (...) {
    FailureCleanup();
    throw;
  }

  const bool inPlace = !update || ReplaceArchive(tempPath);
  if (inPlace) {
    if (Dispose) DisposeFiles();
    HoldArchive(std::move(*inOrder_), *newEnd_, currentDisk_ + 1);
  }
  inOrder_.reset();
  return added;
}

void TZipWriter::OpenOutput(const std::string& path) {
  output_ = std::make_unique<TBufferedFileStream>(path, fmCreate);
  outputPath_ = path;
  outputCreated_ = true;
  byName_ =
      std::make_unique<TSortedZip>(TZipSortMode::ByName, TDuplicates::Error, TOwnership::NotOwning);
  inOrder_ =
      std::make_unique<TSortedZip>(TZipSortMode::ByNone, TDuplicates::Error, TOwnership::Owning);
  newEnd_ = std::make_unique<TEndCentral>();
}

void TZipWriter::AddFiles(int& added) {
  if (!FilesList.empty() && OnStartZipInfo) {
    bool stopNow = false;
    OnStartZipInfo(this, static_cast<int>(FilesList.size()), totalBytes_, *newEnd_, stopNow);
    if (stopNow) throw EUserCanceled("User canceled Zip operation");
  }
  for (size_t i = 0; i < FilesList.size(); ++i) {
    const std::string path = FilesList[i];
    auto header = std::make_unique<TZipHeaderInfo>();
    if (!ZipOneFile(path, *header)) continue;
    ++added;
    InsertEntry(std::move(header));
    if (Dispose) disposeList_.push_back(path);
  }
}

void TZipWriter::InsertEntry(std::unique_ptr<TZipHeaderInfo> entry) {
  ++newEnd_->TotalEntries;
  ++newEnd_->EntriesThisDisk;
  TZipHeaderInfo* record = entry.get();
  inOrder_->Add(record);
  entry.release();
  byName_->Add(record);
}

void TZipWriter::CopyExistingEntries(int& added) {
  LoadArchiveDirectory();
  newEnd_->SetZipComment(EndCentral().ZipComment());
  const std::vector<TZipHeaderInfo*> existing(ArchiveEntries().begin(), ArchiveEntries().end());
  for (const TZipHeaderInfo* entry : existing) {
    const std::string name = entry->Directory() + entry->FileName();
    const std::string readBack = ReadBackName(name);
    if (entry->EntryState[1] == kMarkedForRemoval) {
      bool keep = false;
      if (OnDeleteEntry) OnDeleteEntry(this, name, keep);
      if (!keep) continue;
    }
    const auto match = std::find_if(FilesList.begin(), FilesList.end(), [&](const std::string& p) {
      return SameTextAscii(StoredName(p), readBack);
    });
    if (match != FilesList.end()) {
      const std::string path = *match;
      FilesList.erase(match);
      const bool replace =
          ZipAction == TZipAction::zaReplace || FileIsNewer(path, entry->LastModDateTime);
      if (replace) {
        auto header = std::make_unique<TZipHeaderInfo>();
        if (ZipOneFile(path, *header)) {
          ++added;
          InsertEntry(std::move(header));
          if (Dispose) disposeList_.push_back(path);
          continue;
        }
        // A replacement that could not be read leaves the entry as it was
        // rather than dropping it.
      } else {
        DropFromTotal(CurrentSize(path));
      }
    }
    CopyEntry(*entry);
  }
}

void TZipWriter::CopyEntry(const TZipHeaderInfo& old) {
  TBufferedFileStream& in = *ArchiveStream();
  TZipHeaderInfo local;
  if (in.Seek(old.RelativeOffset, soFromBeginning) != old.RelativeOffset ||
      !local.ReadLocalFromStream(in)) {
    throw EBadZipFile();
  }
  auto entry = std::make_unique<TZipHeaderInfo>();
  entry->CopyFrom(old);
  entry->CentralOffset = 0;
  entry->EntryState = {0, 0};
  entry->DiskNumberStart = currentDisk_;
  // The new local header carries the sizes and CRC-32; no descriptor follows.
  entry->GeneralPurposeFlags &= static_cast<uint16_t>(~kDataDescriptorFlag);
  entry->Zip64Sizes = entry->Zip64Sizes || old.CompressedSize >= Zip64Limit32 ||
                      old.UncompressedSize >= Zip64Limit32;
  entry->SaveLocalToStream(*output_);
  CheckOutput();
  std::vector<uint8_t> block(static_cast<size_t>(kCopyBlock));
  for (int64_t left = old.CompressedSize; left > 0;) {
    const int64_t want = std::min(left, kCopyBlock);
    const int64_t got = in.Read(block.data(), want);
    if (in.Failed()) throw EReadError(in.ErrorText());
    if (got != want) throw EBadZipFile();
    WriteOutput(block.data(), 1, static_cast<size_t>(got));
    left -= got;
  }
  InsertEntry(std::move(entry));
}

void TZipWriter::WriteCentralDirectory() {
  newEnd_->CentralDirOffset = output_->Position();
  newEnd_->CentralStartDisk = currentDisk_;
  for (TZipHeaderInfo* entry : *inOrder_) {
    entry->SaveCentralToStream(*output_);
    if (entry->UsesZip64()) newEnd_->Zip64 = true;
  }
  newEnd_->CentralSize = output_->Position() - newEnd_->CentralDirOffset;
  newEnd_->ThisDiskNumber = currentDisk_;
  newEnd_->SaveEndToStream(*output_);
  CheckOutput();
}

void TZipWriter::FinishOutput() {
  buffers_.reset();
  // Closing writes the last buffered bytes; only a clean close is a success.
  if (!output_->Close()) CheckOutput();
  output_.reset();
  outputCreated_ = false;
}

void TZipWriter::FailureCleanup() {
  buffers_.reset();
  source_.reset();
  if (output_) output_->Close();
  output_.reset();
  inOrder_.reset();
  if (outputCreated_) DeleteFile(outputPath_);
  outputCreated_ = false;
}

bool TZipWriter::ReplaceArchive(const std::string& tempPath) {
  CloseArchiveStream();
  ForgetArchive();
  DeleteFile(ZipName());
  if (CopyFileContents(tempPath, ZipName()) < 0) {
    // The temporary archive is now the only copy: it stays where the
    // message says.
    Ui().ShowMessage(DialogKind::Error, "Error",
                     "Could not copy from " + tempPath + " -> " + ZipName());
    return false;
  }
  DeleteFile(tempPath);
  return true;
}

void TZipWriter::DisposeFiles() {
  for (const std::string& path : disposeList_) {
    bool skip = false;
    if (OnDisposeFile) OnDisposeFile(this, path, skip);
    if (!skip) DeleteFile(path);
  }
}

// --- One entry ---

bool TZipWriter::ZipOneFile(const std::string& path, TZipHeaderInfo& header) {
  fileBytes_ = 0;
  if (!FileExists(path)) return false;
  header.ExternalAttributes = FileGetAttr(path);
  try {
    source_ = std::make_unique<TBufferedFileStream>(path, fmOpenReadShared);
  } catch (const std::exception&) {
    if (OnSkippingFile) OnSkippingFile(this, TSkipReason::srNoOpen, path, -1);
    return false;
  }
  struct SourceCloser {
    std::unique_ptr<TBufferedFileStream>& source;
    ~SourceCloser() { source.reset(); }
  } closer{source_};

  header.LastModDateTime = FileDosDateTime(source_->FileHandle());
  fileSizeAtOpen_ = source_->Size();
  header.UncompressedSize = fileSizeAtOpen_;
  // The name goes in as the system gives it: the stored-name conversion
  // keeps every character, where a round trip through the OEM code page
  // would not.
  header.SetFileName(ExtractFileName(path));
  header.RelativeOffset = output_->Position();
  header.InternalAttributes = 2;
  header.DiskNumberStart = currentDisk_;
  if (storePaths_) header.SetDirectory(StoredDirectory(path));

  // Entries copied from an archive on disk carry a name that is not UTF-8 in
  // its read-back form; look for that form too.
  const std::string name = header.Directory() + header.FileName();
  const std::string readBack = ReadBackName(name);
  if (byName_->FindName(name) != nullptr ||
      (readBack != name && byName_->FindName(readBack) != nullptr)) {
    if (OnSkippingFile) OnSkippingFile(this, TSkipReason::srDuplicate, path, -1);
    DropFromTotal(fileSizeAtOpen_);
    return false;
  }
  if (OnStartZip) {
    bool skip = false;
    OnStartZip(this, path, header, skip);
    if (skip) {
      DropFromTotal(fileSizeAtOpen_);
      return false;
    }
  }

  const bool store = PackLevel == 0 || MatchesList(header.FileName(), NoCompressList);
  header.Zip64Sizes = MayNeedZip64Sizes(fileSizeAtOpen_, store);
  entryInputLimit_ = header.Zip64Sizes ? INT64_MAX : ClassicInputLimit(store);
  header.SaveLocalToStream(*output_);
  CheckOutput();
  crc_ = Crc32Preset;
  entryBytesRead_ = 0;
  entryBytesWritten_ = 0;
  if (store) {
    StoreFile();
    header.CompressionMethod = 0;
    header.InternalAttributes = 0;
  } else {
    Compress(header);
  }
  // The entry records what was read and written, so its sizes and CRC-32
  // agree with its data even when the file changed size meanwhile.
  header.CompressedSize = entryBytesWritten_;
  header.UncompressedSize = entryBytesRead_;
  header.CRC32 = ~crc_;

  const int64_t dataEnd = output_->Position();
  SeekOutput(header.RelativeOffset);
  header.SaveLocalToStream(*output_);
  SeekOutput(dataEnd);
  CheckOutput();
  source_.reset();
  // ResetArchiveBitOnZip: POSIX file systems keep no archive attribute, so
  // there is nothing to clear.
  if (OnEndZip) {
    OnEndZip(this, path, header.UncompressedSize, header.CompressedSize, output_->Size());
  }
  return true;
}

void TZipWriter::DropFromTotal(int64_t size) {
  if (size <= 0) return;
  totalBytes_ -= size;
  // The bar moves up at once: after the last file nothing else would move it.
  if (bytesDone_ > 0 && OnTotalPercentDone) {
    OnTotalPercentDone(this, PercentOf(bytesDone_, totalBytes_));
  }
}

void TZipWriter::StoreFile() {
  uint8_t block[kStoreBlock];
  for (;;) {
    const unsigned got = ReadInput(block, kStoreBlock);
    if (got == 0) break;
    WriteOutput(block, 1, got);
  }
}

void TZipWriter::Compress(TZipHeaderInfo& header) {
  header.InternalAttributes = 2;
  header.CompressionMethod = 8;
  // The encoder's result is the count of bytes it passed to WriteOutput,
  // which the writer has counted itself.
  deflate(*this, PackLevel, *buffers_,
          {&header.GeneralPurposeFlags, &header.InternalAttributes, &header.CompressionMethod},
          DeflateOptions{SecondThread, Threads});
}

unsigned TZipWriter::ReadInput(uint8_t* buffer, unsigned count) {
  const int64_t room = entryInputLimit_ - entryBytesRead_;
  if (room <= 0) return 0;
  const int64_t got = source_->Read(buffer, std::min<int64_t>(count, room));
  if (source_->Failed()) throw EReadError(source_->ErrorText());
  if (got <= 0) return 0;
  entryBytesRead_ += got;
  fileBytes_ += got;
  if (OnFilePercentDone) OnFilePercentDone(this, PercentOf(fileBytes_, fileSizeAtOpen_));
  bytesDone_ += got;
  if (OnTotalPercentDone) OnTotalPercentDone(this, PercentOf(bytesDone_, totalBytes_));
  crc_ = Crc32Update(crc_, buffer, static_cast<size_t>(got));
  return static_cast<unsigned>(got);
}

void TZipWriter::WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) {
  const auto size = static_cast<int64_t>(item_size * count);
  const int64_t put = output_->Write(buffer, size);
  entryBytesWritten_ += std::max<int64_t>(put, 0);
  if (put != size) {
    CheckOutput();
    throw EWriteError("Cannot write file " + outputPath_);
  }
  CheckOutput();
  if (!DoProcessMessages) return;
  Ui().ProcessMessages();
  if (CancelRequested.exchange(false)) throw EUserCanceled("User Aborted Operation");
}

void TZipWriter::CheckOutput() const {
  if (!output_->Failed()) return;
  std::string text = output_->ErrorText();
  if (text.empty()) text = "Cannot write file " + outputPath_;
  throw EWriteError(text);
}

void TZipWriter::SeekOutput(int64_t position) {
  try {
    output_->Seek(position, soFromBeginning);
  } catch (const Exception&) {
    // A seek fails when the bytes it flushes cannot be written: say why.
    CheckOutput();
    throw;
  }
}
