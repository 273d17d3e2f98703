// Writing files into one folder through a handle of it, opened once: what a
// run creates is made private, written and synced through its own handle, and
// put in place by that handle, so a name that another user controls can never
// redirect it. Also the identity and stamp of an open file, to tell which file
// a name holds and whether a file changed while it was read.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "File.h"

// Which file something is: device and inode on POSIX, volume serial and file
// index on Windows. Two handles or names with equal ids are one file.
struct TFileId {
  uint64_t device = 0;
  uint64_t index = 0;
  bool Valid() const { return device != 0 || index != 0; }
  bool operator==(const TFileId&) const = default;
};

// What an open file shows of itself, to tell a change apart: a rewrite of the
// same size moves the last-write time, and on POSIX the change time too
// (which no program can set back).
struct TFileStamp {
  TFileId id;
  int64_t size = 0;
  int64_t writeTimeNs = 0;
  int64_t changeTimeNs = 0;  // 0 where the system keeps none
  uint32_t mode = 0;         // permission bits (07777) on POSIX; 0 on Windows
  uint32_t group = 0;        // the owning group on POSIX; 0 on Windows
  uint32_t links = 1;        // the names the file has
  // Owned by the user this program runs as; always so on Windows, whose
  // owners are not compared.
  bool mine = true;
  bool SameContentAs(const TFileStamp& other) const {
    return id == other.id && size == other.size && writeTimeNs == other.writeTimeNs &&
           changeTimeNs == other.changeTimeNs;
  }
};
// The stamp of an open file: 0, or the error number.
int FileStampOf(THandle handle, TFileStamp& stamp);

// What a name inside a folder is, the name itself (a link is a link).
enum class TEntryKind { None, Regular, Directory, Link, Other };
struct TEntryStatus {
  TEntryKind kind = TEntryKind::None;
  TFileStamp stamp;     // for an entry that is there
  int error = 0;        // why it could not be looked at
  bool absent = false;  // nothing is there
};

// A file being written into a folder before it takes its final name: unnamed
// where the system allows, else under a name of ours ending ".tzw-" and six
// characters, locked while this run writes it.
struct TTempFile {
  THandle handle = InvalidHandle;
  std::string name;  // its name in the folder; empty while it has none
  TFileId id;
  bool Open() const { return handle != InvalidHandle; }
};

// A test's view of the order of the calls that make an archive durable:
// "write" (FileWrite), "sync" (FileSync, TOutputDir::Sync), "rename" (putting
// a temporary file in place) and "renamed" (just after), and the folder's
// steps of a rotation, "link", "exchange" and "remove" (each just before it
// looks at the names), each with its handle. Null (the default) records nothing.
using TFileCallObserver = void (*)(const char* call, THandle handle);
void SetFileCallObserver(TFileCallObserver observer);
void NoteFileCall(const char* call, THandle handle);

// Gives the open file the permission bits mode (07777); 0, or the error
// number. Windows keeps no such bits: nothing to do there.
int FileSetMode(THandle handle, uint32_t mode);
// Whether the regular file at root's relative path (folders split by the
// system's separator) is the file with id, every step below root taken
// without following a link. Windows keeps no permission bits to guard:
// there it is always true.
bool FileAtPathBelow(const std::string& root, const std::string& relative, const TFileId& id);
// Gives the open file the owning group; 0, or the error number (a user may
// give only a group of their own). Nothing to do on Windows.
int FileSetGroup(THandle handle, uint32_t group);
// Tests: CreateTemp takes the named way, as on a file system without unnamed
// files (Windows always names them).
void UseNamedTempFiles(bool named);
bool NamedTempFilesForced();

// The permission bits of a new file: 0666 less the umask (0 on Windows).
uint32_t NewFileMode();

class TOutputDir {
 public:
  TOutputDir() = default;
  ~TOutputDir();
  TOutputDir(const TOutputDir&) = delete;
  TOutputDir& operator=(const TOutputDir&) = delete;

  // Opens the folder at path (following a link to it once, here); 0 or the
  // error number. Everything below then works inside the folder it was.
  int Open(const std::string& path);
  void Close();
  // Opens the folder at relative (folders split by '/') below parent, each
  // step taken through its handle and never through a link, made where
  // missing when create says so: 0; ENOENT for a step missing; ErrForeignFolder
  // for a link, or where others may create files in the folder above, a
  // folder of another user's; or the error number.
  int OpenBelow(const TOutputDir& parent, const std::string& relative, bool create);
  bool IsOpen() const { return handle_ != InvalidHandle; }
  const std::string& Path() const { return path_; }

  // The entry name inside the folder, not following a link there.
  TEntryStatus StatusAt(const std::string& name) const;
  // Whether name (never followed) is still the regular file id.
  bool Holds(const std::string& name, const TFileId& id) const;
  // Opens name inside the folder for reading, never through a link and never
  // waiting (regular files only, as FileOpen); InvalidHandle with the error
  // left as FileOpen leaves it.
  THandle OpenForReadingAt(const std::string& name) const;

  // Whether users other than this one may create or remove names in the
  // folder: another owner, its sticky bit, or a group or others' write bit.
  // Never on Windows, whose folder rights are not read here.
  bool Shared() const;

  // Creates a new private (0600) file to become name, locked, not shared:
  // 0, or the error number.
  int CreateTemp(const std::string& name, TTempFile& temp) const;
  // Gives temp, when it has no name yet, a name of ours beside name, so that
  // it can take part in the moves of a rotation: 0, or the error number.
  int NameTemp(TTempFile& temp, const std::string& name) const;
  // Puts temp, written and synced, in place of name in one step; then makes
  // sure name holds the file written. 0, or the error number (EXDEV when
  // another file took the name in the same instant); the handle stays open.
  // When name was found free, a file another program puts there meanwhile is
  // never replaced: EEXIST. The folder's entry is durable only after Sync.
  int Replace(TTempFile& temp, const std::string& name, bool nameFree = false) const;
  // Why the system would refuse to put a file in place of name, as Replace
  // would meet it: EPERM for another user's file in a folder whose sticky bit
  // keeps others' files (unless this user owns the folder or is root); 0
  // when nothing is foreseen, as on Windows.
  int ReplaceRefusal(const std::string& name) const;
  // Gives the file at name, which must still be the file id, the name kept
  // as well (stay) or instead, never replacing a file at kept: 0,
  // ErrNameTaken when name holds another file now, or the error number (that
  // of a name taken when kept is). Where the file system has no second names, stay moves it.
  int KeepAs(const std::string& name, const TFileId& id, const std::string& kept, bool stay) const;
  // Removes name when it is still the file id: 0, ErrNameTaken, or the error.
  int RemoveAt(const std::string& name, const TFileId& id) const;
  // Swaps the files at a and b, each of which must still be the file its id
  // says: 0, ErrNameTaken, or the error number. Where the file system swaps
  // in one step, neither name is ever empty; elsewhere the file at b waits
  // under a name of ours ending ".tzk-" and six characters, which no run
  // removes.
  // heldA, when given, is a handle of ours open on a's file, by which it
  // moves where a file held open cannot be moved by its name (Windows).
  int Exchange(const std::string& a, const TFileId& idA, const std::string& b, const TFileId& idB,
               THandle heldA = InvalidHandle) const;
  // Closes temp and removes any name it has.
  void Discard(TTempFile& temp) const;

  // Makes an unnamed file in the folder that shares the data of the open
  // file source as it stands at this instant (a clone: no data is copied, and
  // the file vanishes when its handle closes). 0 with its handle in clone, or
  // the error number: ErrNoClone where this folder's file system cannot make
  // one (always on Windows), EXDEV where the source is on another.
  int CloneUnnamed(THandle source, THandle& clone) const;
  // Closes the handle of a temporary file put in place.
  static void Release(TTempFile& temp);

  // Makes the folder's entries (new names, renames) durable: 0, or the error.
  int Sync() const;
  // Takes the folder for this run against every other run that asks, until
  // Close: alone to write (shared, to look only), by a lock on the folder
  // itself, so no name that others may replace holds it. 0; ErrFolderBusy
  // with holder the process that holds it (0 where the system does not
  // say); or the error number. With wait, waits for it, until cancel is
  // set. Windows takes no such lock here: 0.
  int Lock(bool write, bool wait, const std::atomic<bool>& cancel, long& holder) const;
  // Temporary files that no live run holds (an earlier run was killed while
  // writing them), each removed unless only asked to find, when it has
  // exactly the form ours have: see TStaleTemp.
  enum class TStale { Remove, Find };
  struct TStaleTemp {
    std::string name;
    std::string leftBecause;  // empty when ours (removed, or to be); else why it stays
  };
  std::vector<TStaleTemp> StaleTemps(TStale action) const;

 private:
  // The system's one-step swap: 0, ErrNoExchange where it has none, or the error.
  int ExchangeAtomic(const std::string& a, const std::string& b) const;
  // Gives the file at name (still id), open at held where valid, the name
  // to instead, never replacing a file there: 0, or the error number.
  int MoveHeld(const std::string& name, const TFileId& id, const std::string& to,
               THandle held) const;
  // What a name of ours that matches IsTempName is, opened without following
  // a link or waiting: its stamp, its first bytes (up to 4) and whether a
  // live run holds it. 0, or the error number.
  struct TTempLook {
    TFileStamp stamp;
    unsigned char head[4] = {};
    size_t headSize = 0;
    bool live = false;
  };
  int LookAtTemp(const std::string& name, THandle& handle, TTempLook& look) const;
  // Removes the temporary open at handle, which is the file at name.
  bool RemoveTemp(const std::string& name, THandle handle) const;
  // Every name in the folder.
  std::vector<std::string> List() const;

  THandle handle_ = InvalidHandle;
  std::string path_;
  size_t maxName_ = 255;  // the longest name the folder's file system takes
};

// True when name is one of ours: anything followed by ".tzw-" and six
// lower-case letters or digits.
bool IsTempName(const std::string& name);
// Why a file found at a temporary's name (IsTempName) is not a temporary that
// a killed run of ours left, empty when it is one: beside an archive's name
// ("NAME.zip", or cut at the folder's longest name), not held by a live run,
// a regular file of this user's with mode 0600, one name (or a second one
// that is the generation it was moved from, which keeps it) and empty or
// beginning like a ZIP archive. twinElsewhere says the file also has one of
// the archive's names.
std::string StaleTempRefusal(const std::string& name, size_t maxName, const TFileStamp& stamp,
                             const unsigned char* head, size_t headSize, bool live,
                             bool twinElsewhere);
// A fresh name of ours for a temporary file that becomes name, cut short so
// that the whole stays within maxName bytes.
std::string TempNameFor(const std::string& name, size_t maxName);
