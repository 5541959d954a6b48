#include "log/staged_file.h"

#include "log/fd_buffer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "postprocessor/host/fs.h"
#include "postprocessor/host/str.h"

namespace qorv::log {

namespace {

std::string Reason(int error) { return std::strerror(error); }

// A name in directory no file has yet, for a hidden file beside target.
std::string HiddenName(const std::string& target) {
  static std::mt19937_64 random{std::random_device{}()};
  const std::string directory = str::dirname(target);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%012llx", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFULL));
  return directory + "/." + str::basename(target) + suffix;
}

// Holds SIGINT, SIGTERM, SIGHUP and SIGQUIT back while it lives, so that
// the files of a run are put in place together or not at all.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

  // Whether one of the held signals waits to be delivered.
  bool AnyPending() const {
    sigset_t pending;
    if (::sigpending(&pending) != 0) return false;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      if (sigismember(&pending, signal) == 1) return true;
    }
    return false;
  }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

std::string FileKey(const std::string& target) {
  char* resolved = ::realpath(str::dirname(target).c_str(), nullptr);
  if (!resolved) return fs::abspath(target);
  std::string key = std::string(resolved) + "/" + str::basename(target);
  std::free(resolved);
  return key;
}

std::string TargetProblem(const std::string& target) {
  struct stat status {};
  if (::lstat(target.c_str(), &status) != 0) return "";
  if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode)) return "";
  const char* kind = S_ISDIR(status.st_mode)                              ? "a directory"
                     : S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) ? "a device"
                     : S_ISFIFO(status.st_mode)                           ? "a FIFO"
                     : S_ISSOCK(status.st_mode)                           ? "a socket"
                                                                          : "not a regular file";
  return target + " is " + kind + ", not a file the reports may replace";
}

StagedFile::StagedFile(std::string target, unsigned mode)
    : target_(std::move(target)), key_(FileKey(target_)), mode_(mode & 07777) {
  problem_ = TargetProblem(target_);
  if (!problem_.empty()) return;
  const std::string directory = str::dirname(target_);
#ifdef O_TMPFILE
  fd_ = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, static_cast<mode_t>(mode_));
#endif
  // Without unnamed files, a hidden file of a fresh name, created only if
  // no file or link of that name is there.
  for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
    hidden_ = HiddenName(target_);
    fd_ = ::open(hidden_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode_));
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    problem_ = "cannot create a file in " + directory + ": " + Reason(errno);
    hidden_.clear();
    return;
  }
  buffer_ = std::make_unique<detail::FdBuffer>(fd_, target_);
  if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) {
    buffer_->set_problem("cannot set the mode of a file for " + target_ + ": " + Reason(errno));
  }
  stream_ = std::make_unique<std::ostream>(buffer_.get());
}

StagedFile::StagedFile(std::string target, std::string problem)
    : target_(std::move(target)), key_(FileKey(target_)), mode_(0), problem_(std::move(problem)) {}

StagedFile::~StagedFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!hidden_.empty() && !committed_) ::unlink(hidden_.c_str());
}

std::ostream& StagedFile::stream() {
  static std::ostream nowhere(nullptr);
  return stream_ ? *stream_ : nowhere;
}

const std::string& StagedFile::Flush() {
  if (buffer_ && !buffer_->Drain() && problem_.empty()) problem_ = buffer_->problem();
  return problem_;
}

const std::string& StagedFile::SetMode(unsigned mode) {
  mode_ = mode & 07777;
  if (problem_.empty() && fd_ >= 0 && ::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) {
    problem_ = "cannot set the mode of a file for " + target_ + ": " + Reason(errno);
  }
  return problem_;
}

std::string StagedFile::Commit() {
  if (committed_) return "";
  const HeldSignals held;
  const std::string problem = Prepare();
  return problem.empty() ? Place() : problem;
}

std::string StagedFile::Prepare() {
  if (Flush().empty() && fd_ < 0) problem_ = "nothing was staged for " + target_;
  if (!problem_.empty()) return problem_;
  problem_ = TargetProblem(target_);
  if (!problem_.empty()) return problem_;

  // An unnamed file gets a hidden name first; the rename then replaces the
  // target, or a link of that name, in one step.
  if (hidden_.empty()) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; hidden_.empty() && attempt < 100; ++attempt) {
      std::string name = HiddenName(target_);
      if (::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
          ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        hidden_ = std::move(name);
      } else if (errno != EEXIST) {
        // Neither way of naming the file is open to this process (no
        // /proc): its text is copied to a hidden file instead.
        return CopyToHidden();
      }
    }
    if (hidden_.empty()) return problem_ = "cannot find a free name beside " + target_;
  }
  return "";
}

std::string StagedFile::CopyToHidden() {
  int copy = -1;
  std::string name;
  for (int attempt = 0; copy < 0 && attempt < 100; ++attempt) {
    name = HiddenName(target_);
    copy = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode_));
    if (copy < 0 && errno != EEXIST) break;
  }
  if (copy < 0) return problem_ = "cannot create a file beside " + target_ + ": " + Reason(errno);
  hidden_ = name;
  char block[1 << 16];
  off_t offset = 0;
  for (;;) {
    const ssize_t read = ::pread(fd_, block, sizeof block, offset);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) {
      if (read < 0) problem_ = "cannot write " + target_ + ": " + Reason(errno);
      break;
    }
    for (ssize_t done = 0; done < read && problem_.empty();) {
      const ssize_t written = ::write(copy, block + done, static_cast<std::size_t>(read - done));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) problem_ = "cannot write " + target_ + ": " + Reason(written < 0 ? errno : ENOSPC);
      done += written > 0 ? written : 0;
    }
    if (!problem_.empty()) break;
    offset += read;
  }
  if (problem_.empty() && ::fchmod(copy, static_cast<mode_t>(mode_)) != 0)
    problem_ = "cannot set the mode of " + target_;
  if (::close(copy) != 0 && problem_.empty()) problem_ = "cannot write " + target_ + ": " + Reason(errno);
  return problem_;
}

std::string StagedFile::Place() {
  if (::rename(hidden_.c_str(), target_.c_str()) != 0) {
    problem_ = "cannot replace " + target_ + ": " + Reason(errno);
    ::unlink(hidden_.c_str());
    hidden_.clear();
    return problem_;
  }
  committed_ = true;
  return "";
}

bool RunFiles::in_run_ = false;
std::vector<std::shared_ptr<StagedFile>> RunFiles::files_;

void RunFiles::Begin() {
  files_.clear();
  in_run_ = true;
}

std::shared_ptr<StagedFile> RunFiles::Stage(const std::string& target, unsigned mode) {
  if (Find(target)) {
    return std::shared_ptr<StagedFile>(new StagedFile(target, target + " holds another result of this run already"));
  }
  auto file = std::make_shared<StagedFile>(target, mode);
  if (in_run_) files_.push_back(file);
  return file;
}

std::shared_ptr<StagedFile> RunFiles::Find(const std::string& target) {
  if (!in_run_) return nullptr;
  const std::string key = FileKey(target);
  const auto found = std::find_if(files_.begin(), files_.end(), [&](const auto& file) { return file->key() == key; });
  return found == files_.end() ? nullptr : *found;
}

void RunFiles::Drop(const std::shared_ptr<StagedFile>& file) {
  files_.erase(std::remove(files_.begin(), files_.end(), file), files_.end());
}

std::string RunFiles::CommitAll() {
  std::string problem;
  {
    // Every file is put in place, or none is, whatever signal comes.
    const HeldSignals held;
    for (const auto& file : files_) {
      problem = file->Prepare();
      if (!problem.empty()) break;
    }
    // A signal that came meanwhile stops the run before any file is
    // replaced: it is delivered, with its default effect, once the held
    // signals are let through.
    if (problem.empty() && held.AnyPending()) problem = "the run was interrupted by a signal";
    for (const auto& file : files_) {
      if (!problem.empty()) break;
      problem = file->Place();
    }
    files_.clear();
    in_run_ = false;
  }
  return problem;
}

void RunFiles::DiscardAll() {
  files_.clear();
  in_run_ = false;
}

}  // namespace qorv::log
