// StagedFile and RunFiles: result files that appear whole or not at all.
//
// A StagedFile is written to a new file in its target's directory that no
// other name can reach: an unnamed file where the file system offers one,
// else a hidden file created exclusively (never through an existing link).
// Its mode, 0660, is set on the open file. Commit puts it over the target
// by rename, so a reader, a second run or a crash never sees half a file;
// a target that is a symbolic link is replaced, not written through, and a
// target that is not a regular file (a device, a FIFO, a directory) is
// refused and left as it is. A file that is not committed leaves nothing.
//
// RunFiles holds the staged files of the run being written: the driver
// opens a run, every file staged meanwhile (by the output log for the
// results log, the JSON and the warnings, by extensions for files of their
// own) waits, and the driver then commits them all when every report
// succeeded, or drops them all, so the previous results stay byte for byte
// after a failed report, a signal or an allocation failure. Outside a run,
// a staged file is committed by whoever staged it.
//
// Single-threaded, like the output log. A process killed by a signal
// leaves no staged file behind where the file system offers unnamed files
// (Linux tmpfs, ext4, xfs, btrfs); elsewhere the hidden file may stay.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "postprocessor/support/export.h"

namespace qorv::log {

// The permissions of result files: read and write for owner and group.
inline constexpr unsigned kResultFileMode = 0660;

namespace detail {
class FdBuffer;
}

class QORV_EXPORT StagedFile {
 public:
  // Stages a file for target (a path after expansion) with the given
  // permission bits; the target's directory must exist. problem() says why
  // when it cannot.
  explicit StagedFile(std::string target, unsigned mode = kResultFileMode);
  // Drops the staged text unless it was committed.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // The text goes here; it is buffered until Flush or Commit.
  std::ostream& stream();
  const std::string& target() const { return target_; }
  // The target's directory, resolved, and its file name: one key per file
  // however its name is written ("out//a.log" and "out/a.log").
  const std::string& key() const { return key_; }

  // Writes out what is buffered. "" while all is well, else a message
  // naming the target and the problem (a full disk); the first problem
  // stays.
  const std::string& Flush();
  const std::string& problem() const { return problem_; }

  // Gives the file the permission bits of mode in place of those it was
  // staged with, before anyone can read it. Returns problem().
  const std::string& SetMode(unsigned mode);

  // Puts the file over its target. Returns "" on success, else the
  // problem; the target is then as it was. Call it once.
  std::string Commit();

 private:
  friend class RunFiles;

  // A file that is not staged, for the reason problem.
  StagedFile(std::string target, std::string problem);

  // Commit in two steps, so that a run's files are all checked and given
  // their hidden names before any target is replaced.
  std::string Prepare();
  std::string Place();
  // Prepare's way for an unnamed file that cannot be given a name.
  std::string CopyToHidden();

  std::string target_;
  std::string key_;
  unsigned mode_;
  std::string problem_;
  int fd_ = -1;
  std::string hidden_;  // the hidden file's path when there is no unnamed file
  bool committed_ = false;
  std::unique_ptr<detail::FdBuffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

// The key StagedFile::key gives target, without staging anything.
QORV_EXPORT std::string FileKey(const std::string& target);

// The non-empty problem of a target that is there but is no regular file
// nor a symbolic link: "<target> is a directory", "... a device"; "" when
// the target may be replaced.
QORV_EXPORT std::string TargetProblem(const std::string& target);

class QORV_EXPORT RunFiles {
 public:
  // Opens a run: files staged from now on wait for CommitAll or
  // DiscardAll. Drops any left from an earlier run.
  static void Begin();
  static bool InRun() { return in_run_; }

  // Stages target with mode; while a run is open the file is also held for
  // it. The result is never null; see its problem(). A file the open run
  // holds already is not staged again: two reports would otherwise write
  // one file and the later would silently replace the other's.
  static std::shared_ptr<StagedFile> Stage(const std::string& target, unsigned mode = kResultFileMode);
  // The file of the open run staged for the same file as target, or null.
  static std::shared_ptr<StagedFile> Find(const std::string& target);
  // Forgets a staged file, which then leaves nothing when it goes.
  static void Drop(const std::shared_ptr<StagedFile>& file);

  // Commits every file of the run, in staging order, and closes the run.
  // Returns "" or the first problem; the files after it are dropped.
  static std::string CommitAll();
  // Drops every file of the run and closes it.
  static void DiscardAll();

 private:
  static bool in_run_;
  static std::vector<std::shared_ptr<StagedFile>> files_;
};

}  // namespace qorv::log
