#pragma once

// Replacing a file with care, as git's lockfile does: the new file is made
// beside the old one under a temporary name (".<name>.pagemend-<pid>.tmp",
// the name cut short where it would pass the system's limit), takes over
// what the old file had that is not its bytes (owner, group, mode, extended
// attributes and ACLs; on Windows its attributes, hidden among them, and its
// security descriptor), is flushed to disk and renamed over it, and the
// folder is flushed: at every moment the path names the old file or the whole
// new one. On Windows the rename waits a while for a file another program
// holds open (the game, a scanner of viruses), trying again and again.
// The temporary is removed if anything fails, and by a terminating
// signal (see signal_guard.h); one a killed run left is removed by the next
// replacement of that file. The C library only (on Windows, its calls).

#include <string>

#include "fsio/files.h"
#include "fsio/signal_guard.h"

namespace fsio {

// Why a file was not replaced.
struct Failure {
  enum Kind {
    none,
    notWritable,         // its user may not write the file (though the folder would allow the rename)
    cannotCreate,        // the new file cannot be made beside it
    shutOut,             // the new file cannot keep the owner or group (`detail`), whose access it would take away
    modeNotKept,         // the new file cannot take the old one's permission bits
    attributesUnread,    // the old file's extended attributes cannot be listed
    attributeNotCopied,  // one of them (`detail`) cannot be given to the new file
    writeFailed,         // writing, flushing or renaming failed
    notTheOldFile,       // (linkAs) the other name no longer names the file replaced
    inUse,               // (Windows) another program held the file open all the while the rename was tried
  };
  Kind kind = none;
  int error = 0;       // errno, where the system gave one
  std::string detail;  // see the kinds
  explicit operator bool() const { return kind != none; }
};

class Replacement {
 public:
  Replacement() = default;
  ~Replacement() { abort(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Begins replacing `path` (what a symbolic link points at, so that the link
  // stays a link): refuses a file its user may not write, makes the new file
  // beside it and gives it what the old file had (its attributes read
  // through `oldFd` when that is open). For a file not there yet, what
  // `like` has (attributes read through `likeFd`), if given.
  Failure begin(const std::string& path, int oldFd = -1, const FileInfo* like = nullptr, int likeFd = -1);
  // Where the new bytes go.
  int fd() const { return fd_; }
  // The file as it was found; null when there was none.
  const FileInfo* old() const { return hadOld_ ? &old_ : nullptr; }
  // Flushes the new file to disk and closes it.
  Failure finish();
  // Renames the new file over the old one and flushes the folder. With
  // `keepOld`, the old file stays beside it under another name until
  // rollBack() puts it back or settle() gives it up.
  Failure commit(bool keepOld = false);
  // After commit(true): the old file back in place (or, where there was
  // none, the new one removed).
  void rollBack();
  // After commit(true): the old file given up.
  void settle();
  // After commit(): `other`, another name the old file had (a hard link),
  // made a name of the new file as carefully: a new link beside it, renamed
  // over it, so that at every moment it names the old file or the new one.
  Failure linkAs(const std::string& other);
  // Removes the new file, unless it was committed.
  void abort();

 private:
  std::string target_, temporary_, kept_;
  int fd_ = -1;
  bool hadOld_ = false, committed_ = false;
  FileInfo old_;
  PendingFile pending_, keptPending_;  // the new file and the old one kept aside, while they have those names
};

// The parts around the process id in the names of temporaries.
constexpr const char* kTemporaryInfix = ".pagemend-";
constexpr const char* kTemporarySuffix = ".tmp";
constexpr const char* kKeptSuffix = ".old";
// The old file moved aside for a moment where a rename cannot replace a file
// open here (Windows before 10, FAT, Wine): put back (restoreSetAside, and
// the next replacement of the file) if a run ended before the new file took
// its name, and never removed but by the run that made it.
constexpr const char* kAsideSuffix = ".was";

// Puts back what a replacement that could not finish left aside in
// `folder` (Windows alone moves an old file aside, and only where the
// system cannot rename over a file open here): before a run lists a folder
// or opens a file in it, so that a region a run ended beside is found
// where the game looks for it.
void restoreSetAside(const std::string& folder);
// For tests of what the system rarely does: the next call of this kind made
// by a replacement fails with `error`.
enum class Call { fchown, fchmod, fsync, rename, link };
void failNextCall(Call call, int error);

}  // namespace fsio
