// The archive writer: writes a ZIP archive from a list of files, deflating
// each entry with the encoder (or storing it), and updates an archive that
// already exists through a temporary file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Deflate.h"
#include "FileOutput.h"
#include "ZipReader.h"
#include "ZipRecords.h"

class TBufferedFileStream;
class TSortedZip;

// What happens to an entry that an existing archive already holds.
enum class TZipAction {
  zaUpdate,   // replaced when the file is newer; new files added
  zaReplace,  // always replaced; new files added
  zaFreshen,  // replaced when the file is newer; no new files
};

// Why a file did not become an entry.
enum class TSkipReason : int {
  srNone = 0,
  srDuplicate = 1,  // its stored name is already among this run's entries
  srNoOpen = 2,     // it could not be opened
};

using TZipCompleteEvent = std::function<void(TObject* Sender, int FileCount)>;
using TStartZipInfoEvent = std::function<void(TObject* Sender, int NumFiles, int64_t TotalBytes,
                                              TEndCentral& EndCentralRecord, bool& StopNow)>;
using TStartZipEvent = std::function<void(TObject* Sender, const std::string& FName,
                                          TZipHeaderInfo& ZipHeader, bool& Skip)>;
using TEndZipEvent =
    std::function<void(TObject* Sender, const std::string& FName, int64_t UncompressedSize,
                       int64_t CompressedSize, int64_t CurrentZipSize)>;
using TSkippingFileEvent = std::function<void(TObject* Sender, TSkipReason Reason,
                                              const std::string& FName, int FileIndex)>;
using TFileNameEvent = std::function<void(TObject* Sender, const std::string& FName)>;
using TFileSkipEvent = std::function<void(TObject* Sender, const std::string& FName, bool& Skip)>;

// A record as the writer put it into the archive: where it starts and its bytes.
struct TWrittenRecord {
  int64_t offset = 0;
  std::string bytes;
};

// One file written as a fresh archive of one entry, stored under its bare
// name, into a file the caller holds and will make durable: all that a run
// asks of the writer.
struct TArchiveJob {
  // The archive's path: ZipName becomes it and messages name it; nothing is
  // created or opened there.
  std::string archivePath;
  // The open file the archive is written into; the caller's to keep, sync
  // and close. Its bytes are sent on to the disk as they come
  // (EarlyWriteback), so that the caller's sync waits for the last of them
  // only.
  THandle output = InvalidHandle;
  // The file the entry is, taken by its name as it is (never a pattern).
  std::string source;
  // Optional: an open file its data is read from instead (a clone taken at
  // one instant, say), from where it stands, which is its start when freshly
  // opened; kept and closed by the caller. The entry then takes sourceTime
  // and sourceAttr, the file's own as the caller saw them.
  THandle sourceHandle = InvalidHandle;
  uint32_t sourceTime = 0xFFFFFFFFu;
  uint32_t sourceAttr = 0;
  // 0 stores the entry; 1..9 is the deflate level.
  int level = 6;
};

// A progress percentage: done of total rounded to the nearest (ties to
// even), never above 100; 0 when total is 0 or less.
int PercentOf(int64_t done, int64_t total);

class TZipWriter : public TZipReader, private DeflateHost {
 public:
  TZipWriter();
  ~TZipWriter() override;

  // --- Published properties ---
  // Prefixed to FilesList entries without a directory; ends in the separator
  // when not empty.
  const std::string& RootDir() const { return rootDir_; }
  void SetRootDir(const std::string& value);
  // 0 stores every entry; 1..9 is the deflate level.
  int PackLevel = 6;
  // Whether pattern entries search sub-directories.
  bool Recurse = false;
  // Store the directory part of names. Turning it off also turns off
  // RelativePaths and StoreVolumes.
  bool StorePaths() const { return storePaths_; }
  void SetStorePaths(bool value);
  // Store directories relative to RootDir; turning it on also turns on
  // StorePaths and Recurse.
  bool RelativePaths() const { return relativePaths_; }
  void SetRelativePaths(bool value);
  // Keep the drive in stored directories; turning it on also turns on
  // StorePaths.
  bool StoreVolumes() const { return storeVolumes_; }
  void SetStoreVolumes(bool value);
  TZipAction ZipAction = TZipAction::zaUpdate;
  // Directory for the temporary archive of an update; the system's when it
  // does not name an existing directory.
  std::string TempPath;
  // Patterns of files never added, and of files stored without compression.
  std::vector<std::string> ExcludeList;
  std::vector<std::string> NoCompressList;
  bool SkipIfArchiveBitNotSet = false;
  bool ResetArchiveBitOnZip = false;
  // Delete each source file after a successful run.
  bool Dispose = false;
  // Let pending window messages run after each block of entry data written.
  bool DoProcessMessages = true;
  // Code each entry's finished blocks on a second thread while the next ones
  // are parsed: for a machine with a core to spare. The archive is the same.
  bool SecondThread = false;
  // Threads that parse each entry at once, in segments (0 or 1: the calling
  // thread alone): for a machine with cores to spare. The archive is the same.
  unsigned Threads = 0;
  // Keep the encoder's buffers from one Zip call to the next, for a run of
  // many archives: allocating them for each would fault their pages in each
  // time, and the parsing threads' freed memory would stay in their heaps.
  // ReleaseEncoderMemory lets them go.
  bool KeepEncoderMemory = false;
  void ReleaseEncoderMemory() { buffers_.reset(); }
  // Write ZipName anew, whatever is there, instead of updating it: for a
  // caller that writes into a file of its own and puts it in place itself.
  bool FreshArchive = false;
  // With FreshArchive: the open file the archive is written into, kept and
  // closed by the caller, instead of a file created at ZipName (which then
  // only names it in messages).
  THandle OutputHandle = InvalidHandle;
  // With FreshArchive and one file in FilesList: the open file its data is
  // read from instead of the file opened by name (a clone of it taken at one
  // instant, say), kept and closed by the caller and read from its start.
  // The entry still takes the file's name; its time and attributes are
  // SourceTime and SourceAttr, the file's own as the caller saw them.
  THandle SourceHandle = InvalidHandle;
  uint32_t SourceTime = 0xFFFFFFFFu;
  uint32_t SourceAttr = 0;
  // Make the archive durable before Zip returns.
  bool SyncOutput = false;
  // The archive will be made durable once written (SyncOutput, or by the
  // caller): where the system allows (Linux), its bytes are sent on to the
  // disk every few MiB as they come, so that the sync at the end waits for
  // the last of them only.
  bool EarlyWriteback = false;
  // FilesList holds paths of files as they are: a name with "*", "?", "<",
  // ">" or "|" in it is that one file, not a pattern that finds others.
  bool LiteralNames = false;

  // --- Events; an unassigned one does nothing ---
  // Once per Zip after a normal end, with the number of files added.
  TZipCompleteEvent OnZipComplete;
  // Once before the first file; StopNow ends the run (EUserCanceled).
  TStartZipInfoEvent OnStartZipInfo;
  // Per file before its local header; Skip leaves the file out.
  TStartZipEvent OnStartZip;
  // Per file added; CurrentZipSize is the archive's size at that moment.
  TEndZipEvent OnEndZip;
  // A file left out: its stored name already taken, or it cannot be opened.
  TSkippingFileEvent OnSkippingFile;
  // A listed file that does not exist.
  TFileNameEvent OnNoSuchFile;
  // With Dispose, per source file before it is deleted; Skip keeps it.
  TFileSkipEvent OnDisposeFile;
  // Per entry of an updated archive marked for removal; Skip keeps it.
  TFileSkipEvent OnDeleteEntry;

  // Writes the archive ZipName from FilesList (updating it when it exists)
  // and returns the number of files added. Pattern entries are found by the
  // search the program installs (WriterServices.h); without one they add
  // nothing. Fires OnZipComplete after a normal
  // end. On failure the exception leaves Zip, no partial archive is left and
  // an existing archive is as it was. When cancel becomes true, Zip ends at
  // its next read (or, with DoProcessMessages, write) with EUserCanceled;
  // the token is the caller's and is left as it is.
  int Zip(const std::atomic<bool>& cancel);
  // A Zip that nothing cancels.
  int Zip();
  // Zips the job as Zip does, with its events, results and failures; the
  // job stands in for the properties it covers (FilesList and ZipName become
  // its file and its name), which are otherwise left as they are. The
  // writer's other settings (DoProcessMessages, the threads, the encoder's
  // memory) and events apply.
  int ZipOne(const TArchiveJob& job, const std::atomic<bool>& cancel);

  // The sum of the sizes of the files to add, and the bytes read so far, in
  // the current (or last) run.
  int64_t TotalBytes() const { return totalBytes_; }
  int64_t BytesDone() const { return bytesDone_; }
  // The system's error number for the last file left out because it could
  // not be opened (ENOENT when it was gone); 0 when none was.
  int SkipError() const { return skipError_; }
  // The last file added as its open handle showed it before the first byte
  // was read and after the last: a difference means it changed meanwhile.
  const ::TFileStamp& SourceStampAtOpen() const { return stampAtOpen_; }
  const ::TFileStamp& SourceStampAtEnd() const { return stampAtEnd_; }
  // Every byte of the last archive written outside its entries' data, as it
  // was written: each entry's local header, then the central directory with
  // the end records to the end of the file, in the order they lie there. For
  // a caller that checks the archive on the disk against them.
  const std::vector<TWrittenRecord>& WrittenRecords() const { return written_; }

 private:
  // --- The run ---
  // What one call writes, and how: taken from the properties by Zip and from
  // the job by ZipOne, and fixed for the whole call.
  struct TRunSettings {
    bool fresh = false;
    THandle output = InvalidHandle;
    // The lent file, for a run of one file only.
    THandle source = InvalidHandle;
    uint32_t sourceTime = 0xFFFFFFFFu;
    uint32_t sourceAttr = 0;
    int level = 6;
    bool recurse = false;
    bool storePaths = false;
    bool literalNames = false;
    bool sync = false;
    bool earlyWriteback = false;
  };
  int Run(const TRunSettings& settings, const std::atomic<bool>& cancel);
  int ProcessFiles();
  void OpenOutput(const std::string& path);
  void AddFiles(int& added);
  void CopyExistingEntries(int& added);
  void CopyEntry(const TZipHeaderInfo& old);
  void InsertEntry(std::unique_ptr<TZipHeaderInfo> entry);
  void WriteCentralDirectory();
  void FinishOutput();
  // Puts the temporary archive in place of ZipName; false when it could not.
  bool ReplaceArchive(const std::string& tempPath);
  void DisposeFiles();
  void FailureCleanup();

  // --- The file list ---
  void ExpandFileList();
  bool MatchesList(const std::string& path, const std::vector<std::string>& list) const;
  // The directory part a file's entry is stored under ("" without StorePaths).
  std::string StoredDirectory(const std::string& path) const;
  // Names compared with entries: as an entry carries its name once read
  // back from an archive, whether it came from there or from this writer.
  static std::string ReadBackName(const std::string& name);
  std::string StoredName(const std::string& path) const;
  static bool HoldsEntry(const TSortedZip& entries, const std::string& name);
  bool FreshensNothing(const std::string& path) const;

  // --- One entry ---
  bool ZipOneFile(const std::string& path, TZipHeaderInfo& header);
  // A file that will not be read leaves the total; the percentage is
  // reported again.
  void DropFromTotal(int64_t size);
  // Makes room for the ZIP64 sizes in the local header of an entry whose data
  // turned out not to fit the classic fields: moves the data up and returns
  // its new end.
  int64_t GrowLocalHeader(TZipHeaderInfo& header, int64_t dataEnd);
  void StoreFile();
  void Compress(TZipHeaderInfo& header);
  unsigned ReadInput(uint8_t* buffer, unsigned count) override;
  void WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) override;

  // --- Output checks: a failed transfer names the file and the reason ---
  void CheckOutput() const;
  void SeekOutput(int64_t position);

  std::string rootDir_;
  bool storePaths_ = false;
  bool relativePaths_ = false;
  bool storeVolumes_ = false;

  // --- State of one run ---
  TRunSettings run_;
  std::unique_ptr<DeflateWorkBuffers> buffers_;
  std::unique_ptr<TBufferedFileStream> output_;
  std::string outputPath_;
  bool outputCreated_ = false;
  std::unique_ptr<TBufferedFileStream> source_;
  std::unique_ptr<TSortedZip> byName_;   // this run's entries by stored name; not owning
  std::unique_ptr<TSortedZip> inOrder_;  // this run's entries in archive order; owning
  std::unique_ptr<TEndCentral> newEnd_;
  std::vector<TWrittenRecord> written_;
  std::vector<std::string> disposeList_;
  int64_t totalBytes_ = 0;
  int64_t bytesDone_ = 0;
  int64_t fileBytes_ = 0;          // read from the current file, for OnFilePercentDone
  int64_t fileSizeAtOpen_ = 0;     // the current file's size when it was opened
  int64_t entryBytesRead_ = 0;     // source bytes of the current entry
  int64_t entryBytesWritten_ = 0;  // data bytes of the current entry
  uint32_t crc_ = 0xFFFFFFFFu;     // CRC-32 register of the current entry
  // With EarlyWriteback: output written since it was last sent on to the disk.
  int64_t writtenSinceWriteback_ = 0;
  uint16_t currentDisk_ = 0;
  int skipError_ = 0;
  ::TFileStamp stampAtOpen_;
  ::TFileStamp stampAtEnd_;
  const std::atomic<bool>* cancel_ = nullptr;  // the running Zip's token
};
