// What a main window makes of a run, the same in Qt and in Win32: Start's
// steps around the one call of the run, the run's news handed to the
// design's handlers, and its end (the idle state again, then "Process
// Complete!" or the report; or the window closed when a close or a signal
// ended the run). The window supplies its controls and handlers in its own
// toolkit.
#pragma once

#include <cstdint>
#include <string>

#include "Run.h"

class TObject;

// The controls' values a run is asked with, besides the two folders.
struct TWindowChoices {
  bool recursive = false;
  bool msde = true;         // the database type chosen
  bool removeTags = false;  // the tag option's mark; it counts for MSDE only
  int level = 9;
};

// The request a window's Start makes: the folders as typed, the mask the
// database type set, one database at a time with the window's messages
// running.
TRunRequest WindowRequest(const std::string& sourceDir, const std::string& outputDir,
                          const std::string& mask, const TWindowChoices& choices);

class TWindowRunView : public TRunView {
 public:
  bool Running() const { return running_; }
  const RunReport& LastReport() const { return run_.Report(); }
  // The one token that ends a run: closing the window sets it, and so may a
  // signal handler.
  TCancelToken& RunCancel() { return cancel_; }

 protected:
  TWindowRunView();
  ~TWindowRunView() override;

  // The run's components, which the window names SearchFolders and ZipWriter1.
  TSearchFolders& RunSearch() { return run_.SearchComponent(); }
  TZipWriter& RunWriter() { return run_.WriterComponent(); }

  // Start, with the folders' texts as typed: their checks, then the whole
  // run; returns once its end is shown (and the window closed when it was
  // asked to close meanwhile).
  void StartRun(const std::string& sourceDir, const std::string& outputDir);
  // Whether the window may close now. During a run it may not: the run is
  // asked to end (the search stops, the archive being written is abandoned
  // and its previous version stays, nothing further is zipped) and the
  // window closes once it has.
  bool CloseQuery();

  // --- The window's part, in its toolkit ---
  // The values of the controls, read once the progress window is up.
  virtual TWindowChoices Choices() const = 0;
  virtual void EnableStartAndClose(bool enabled) = 0;
  virtual void ShowProgressWindow() = 0;
  virtual void CloseProgressWindow() = 0;
  // The progress window's path label shows path.
  virtual void ShowCurrentFile(const std::string& path) = 0;
  virtual void CloseWindow() = 0;

  // --- The design's handlers, which the run's news reach ---
  virtual void SearchFoldersProcess(TObject* Sender, const std::string& Dir, int32_t CountFiles,
                                    int32_t SizeOfFiles) = 0;
  virtual void SearchFoldersChanged(TObject* Sender, int32_t CountFiles, int32_t SizeOfFiles) = 0;
  virtual void ZipWriter1TotalPercentDone(TObject* Sender, int Percent) = 0;
  virtual void ZipWriter1ZipComplete(TObject* Sender, int FileCount) = 0;
  // Shows what is about to be zipped; the run's writer zips it.
  virtual void ZipDatabase(const std::string& archivePath, const std::string& sourcePath) = 0;

 private:
  void Searching(const std::string& dir, int32_t count) final;
  void SearchEnded(int32_t count) final;
  void Zipping(int slot, const TRunDatabase& db) final;
  void Percent(int slot, int percent) final;
  void Written(int slot, int files) final;
  void Ended(const TRun& run, TRunEnd end) final;
  // The idle state, after a run however it ended.
  void EndRun();

  bool running_ = false;
  TCancelToken cancel_{false};
  TRun run_{*this};
};
