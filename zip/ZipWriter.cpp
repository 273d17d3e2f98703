#include "ZipWriter.h"

#include <algorithm>
#include <cerrno>

#include "BufferStream.h"
#include "Crc32.h"
#include "EntryCoding.h"
#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "SortedZip.h"
#include "Text.h"
#include "Ui.h"
#include "WriterServices.h"

namespace {

__extension__ typedef unsigned __int128 uint128;

// Stored entries are read and written in blocks of this size.
constexpr unsigned kStoreBlock = 16000;
// Existing entries are copied in blocks of this size on an update.
constexpr int64_t kCopyBlock = 65536;
// With EarlyWriteback, the output is sent on to the disk after each this many bytes.
constexpr int64_t kWritebackStep = int64_t{8} << 20;
// General purpose bit 3: sizes and CRC-32 follow the data.
constexpr uint16_t kDataDescriptorFlag = 0x0008;
// Names of the temporary archives of an update start with these letters.
constexpr const char* kTempPrefix = "tzw";
constexpr uint8_t kMarkedForRemoval = 2;

// Entry data moves up in blocks of this size when its local header grows.
constexpr int64_t kMoveBlock = 1 << 20;

// True when the file's last-write time is later than an entry's date, both
// compared as repaired MS-DOS date-time values.
bool FileIsNewer(const std::string& path, uint32_t entryDate) {
  const TFileStatus status = FileStatusOf(path);
  if (!status.Exists() || status.Time == 0xFFFFFFFFu) return false;
  // The packed value puts the year first and the seconds last, so numeric
  // order is chronological order.
  return RepairDosDateTime(status.Time) > RepairDosDateTime(entryDate);
}

// Passes everything on to the archive and keeps a copy of what is written
// through it into record: the records go through one, never the data.
class TRecordingStream : public TStream {
 public:
  TRecordingStream(TStream& out, TWrittenRecord& record) : out_(out), record_(record) {
    record_.offset = out_.Position();
    record_.bytes.clear();
  }
  int64_t Read(void* buffer, int64_t count) override { return out_.Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t put = out_.Write(buffer, count);
    if (put > 0) record_.bytes.append(static_cast<const char*>(buffer), static_cast<size_t>(put));
    return put;
  }
  int64_t Seek(int64_t offset, int origin) override { return out_.Seek(offset, origin); }
  int64_t Size() override { return out_.Size(); }
  bool Failed() const override { return out_.Failed(); }
  int ErrorCode() const override { return out_.ErrorCode(); }
  std::string ErrorText() const override { return out_.ErrorText(); }

 private:
  TStream& out_;
  TWrittenRecord& record_;
};

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
  static const std::atomic<bool> never{false};
  return Zip(never);
}

int TZipWriter::Zip(const std::atomic<bool>& cancel) {
  TRunSettings settings;
  settings.fresh = FreshArchive;
  settings.output = FreshArchive ? OutputHandle : InvalidHandle;
  // A handle stands for one file: with more, each is read by its name.
  settings.source = FreshArchive && FilesList.size() == 1 ? SourceHandle : InvalidHandle;
  settings.sourceTime = SourceTime;
  settings.sourceAttr = SourceAttr;
  settings.level = PackLevel;
  settings.recurse = Recurse;
  settings.storePaths = storePaths_;
  settings.literalNames = LiteralNames;
  settings.sync = SyncOutput;
  settings.earlyWriteback = EarlyWriteback;
  return Run(settings, cancel);
}

int TZipWriter::ZipOne(const TArchiveJob& job, const std::atomic<bool>& cancel) {
  FilesList.assign(1, job.source);
  SetZipName(job.archivePath);
  TRunSettings settings;
  settings.fresh = true;
  settings.output = job.output;
  settings.source = job.sourceHandle;
  settings.sourceTime = job.sourceTime;
  settings.sourceAttr = job.sourceAttr;
  settings.level = job.level;
  // A database named "a*.mdf" is that file, not a pattern.
  settings.literalNames = true;
  // The caller syncs the file once it has set its mode.
  settings.earlyWriteback = true;
  return Run(settings, cancel);
}

int TZipWriter::Run(const TRunSettings& settings, const std::atomic<bool>& cancel) {
  run_ = settings;
  cancel_ = &cancel;
  struct TokenScope {
    const std::atomic<bool>*& slot;
    ~TokenScope() { slot = nullptr; }
  } scope{cancel_};
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
  skipError_ = 0;
  // Freshening needs the directory of the archive before the list is
  // filtered by it, also when no earlier run left it in memory.
  if (ZipAction == TZipAction::zaFreshen && !run_.fresh && FileExists(ZipName())) {
    LoadArchiveDirectory();
  }
  if (run_.source != InvalidHandle) {
    // The caller's file is the one to read, whatever its name holds by now.
    totalBytes_ = std::max<int64_t>(FileSizeOf(run_.source), 0);
    bytesDone_ = 0;
  } else if (!FilesList.empty()) {
    ExpandFileList();
  }

  const bool update = !run_.fresh && FileExists(ZipName());
  std::string tempPath;
  int added = 0;
  try {
    if (!buffers_) buffers_ = DeflateWorkBuffers::Allocate();
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
  const bool callers = run_.output != InvalidHandle;
  output_ = callers ? std::make_unique<TBufferedFileStream>(run_.output, path)
                    : std::make_unique<TBufferedFileStream>(path, fmCreate);
  writtenSinceWriteback_ = 0;
  outputPath_ = path;
  // A caller's file is the caller's to remove.
  outputCreated_ = !callers;
  byName_ =
      std::make_unique<TSortedZip>(TZipSortMode::ByName, TDuplicates::Error, TOwnership::NotOwning);
  inOrder_ =
      std::make_unique<TSortedZip>(TZipSortMode::ByNone, TDuplicates::Error, TOwnership::Owning);
  newEnd_ = std::make_unique<TEndCentral>();
  written_.clear();
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
        DropFromTotal(FileStatusOf(path).Size);
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
  // The sizes are known: the classic fields serve whenever they fit.
  entry->Zip64Sizes = old.SizesNeedZip64();
  {
    TRecordingStream record(*output_, written_.emplace_back());
    entry->SaveLocalToStream(record);
  }
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
  TRecordingStream tail(*output_, written_.emplace_back());
  newEnd_->CentralDirOffset = tail.Position();
  newEnd_->CentralStartDisk = currentDisk_;
  for (TZipHeaderInfo* entry : *inOrder_) entry->SaveCentralToStream(tail);
  newEnd_->CentralSize = tail.Position() - newEnd_->CentralDirOffset;
  newEnd_->ThisDiskNumber = currentDisk_;
  newEnd_->SaveEndToStream(tail);
  CheckOutput();
}

void TZipWriter::FinishOutput() {
  if (!KeepEncoderMemory) buffers_.reset();
  if (run_.sync) {
    output_->FlushPending();
    CheckOutput();
    if (const int error = FileSync(output_->FileHandle()); error != 0) {
      throw EWriteError("Cannot write file " + outputPath_ + ": " + SysErrorMessage(error), error);
    }
  }
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
  written_.clear();
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
    // The box, where the program shows one, has its caption and no icon of its own.
    if (const TWriterMessage& message = WriterMessage()) {
      message("Error", "Could not copy from " + tempPath + " -> " + ZipName());
    }
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
  const bool lent = run_.source != InvalidHandle;
  if (!lent && !FileExists(path)) {
    skipError_ = ENOENT;
    return false;
  }
  header.ExternalAttributes = lent ? run_.sourceAttr : FileGetAttr(path);
  try {
    source_ = lent ? std::make_unique<TBufferedFileStream>(run_.source, path)
                   : std::make_unique<TBufferedFileStream>(path, fmOpenReadShared);
  } catch (const Exception& e) {
    skipError_ = e.OsError();
    if (OnSkippingFile) OnSkippingFile(this, TSkipReason::srNoOpen, path, -1);
    return false;
  }
  struct SourceCloser {
    std::unique_ptr<TBufferedFileStream>& source;
    ~SourceCloser() { source.reset(); }
  } closer{source_};

  header.LastModDateTime = lent ? run_.sourceTime : FileDosDateTime(source_->FileHandle());
  stampAtOpen_ = {};
  FileStampOf(source_->FileHandle(), stampAtOpen_);
  fileSizeAtOpen_ = source_->Size();
  header.UncompressedSize = fileSizeAtOpen_;
  // The name goes in as the system gives it: the stored-name conversion
  // keeps every character, where a round trip through the OEM code page
  // would not.
  header.SetFileName(ExtractFileName(path));
  header.RelativeOffset = output_->Position();
  header.InternalAttributes = 2;
  header.DiskNumberStart = currentDisk_;
  if (run_.storePaths) header.SetDirectory(StoredDirectory(path));

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

  const bool store = run_.level == 0 || MatchesList(header.FileName(), NoCompressList);
  // A file of 4 GiB or more cannot have its size in the classic fields: its
  // local header holds the ZIP64 sizes from the start. Any other entry gets
  // the classic header; should its data not fit after all, the header grows
  // when it is rewritten (GrowLocalHeader).
  header.Zip64Sizes = fileSizeAtOpen_ >= Zip64Limit32;
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
  stampAtEnd_ = {};
  FileStampOf(source_->FileHandle(), stampAtEnd_);
  // The entry records what was read and written, so its sizes and CRC-32
  // agree with its data even when the file changed size meanwhile.
  header.CompressedSize = entryBytesWritten_;
  header.UncompressedSize = entryBytesRead_;
  header.CRC32 = ~crc_;

  int64_t dataEnd = output_->Position();
  if (!header.Zip64Sizes && header.SizesNeedZip64()) {
    dataEnd = GrowLocalHeader(header, dataEnd);
  }
  SeekOutput(header.RelativeOffset);
  {
    // Only this last writing of the header stays in the archive.
    TRecordingStream record(*output_, written_.emplace_back());
    header.SaveLocalToStream(record);
  }
  SeekOutput(dataEnd);
  CheckOutput();
  source_.reset();
  // A file whose bit cannot be cleared was still zipped: the entry stands.
  if (ResetArchiveBitOnZip) FileClearArchiveBit(path);
  if (OnEndZip) {
    OnEndZip(this, path, header.UncompressedSize, header.CompressedSize, output_->Size());
  }
  return true;
}

int64_t TZipWriter::GrowLocalHeader(TZipHeaderInfo& header, int64_t dataEnd) {
  const int64_t dataStart = header.RelativeOffset + header.LocalHeaderSize();
  header.Zip64Sizes = true;
  const int64_t shift = header.RelativeOffset + header.LocalHeaderSize() - dataStart;
  // The data moves up from its end backwards, so every block is read before
  // the move of the block above it overwrites it.
  std::vector<uint8_t> block(static_cast<size_t>(std::min(kMoveBlock, dataEnd - dataStart)));
  for (int64_t end = dataEnd; end > dataStart;) {
    const int64_t start = std::max(dataStart, end - kMoveBlock);
    const int64_t count = end - start;
    SeekOutput(start);
    if (output_->Read(block.data(), count) != count) {
      CheckOutput();
      throw EReadError("Cannot read file " + outputPath_);
    }
    SeekOutput(start + shift);
    if (output_->Write(block.data(), count) != count) CheckOutput();
    CheckOutput();
    end = start;
  }
  return dataEnd + shift;
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
  // The encoder's result is the count of bytes it passed to WriteOutput,
  // which the writer has counted itself.
  DeflateEntry(*this, run_.level, *buffers_, header,
               DeflateOptions{
                   .SecondThread = SecondThread,
                   .Threads = Threads,
                   .ExpectedBytes = static_cast<uint64_t>(std::max<int64_t>(fileSizeAtOpen_, 0))});
}

unsigned TZipWriter::ReadInput(uint8_t* buffer, unsigned count) {
  // A source that compresses to almost nothing writes seldom: reads check too.
  if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) {
    throw EUserCanceled("User Aborted Operation");
  }
  const int64_t got = source_->Read(buffer, count);
  if (source_->Failed()) throw EReadError(source_->ErrorText(), source_->ErrorCode());
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
  if ((run_.earlyWriteback || run_.sync) && (writtenSinceWriteback_ += size) >= kWritebackStep) {
    // What the system has of the file so far; the buffer's bytes go with the
    // next step, so the file is still written in whole buffers.
    writtenSinceWriteback_ = 0;
    if (const int error = FileStartWriteback(output_->FileHandle()); error != 0) {
      throw EWriteError("Cannot write file " + outputPath_ + ": " + SysErrorMessage(error), error);
    }
  }
  if (!DoProcessMessages) return;
  Ui().ProcessMessages();
  if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) {
    throw EUserCanceled("User Aborted Operation");
  }
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
