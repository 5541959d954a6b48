// libFuzzer target: the run-file reader of qorv-postprocess on arbitrary
// bytes.
//
// Any input must end in a run or in RunFileError, whose text is one line
// of printable characters starting with the file's name. A run's Framework
// Definitions must not depend on each other in a cycle: the reports walk
// them to their leaves.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tools/run_file.h"

namespace {

// One file, rewritten for every input and removed at exit; in memory when
// /dev/shm is there, since a disk file system may write a file truncated and
// rewritten through to the disk on every close.
char input_file[64];

const char* InputFile() {
  if (input_file[0] == '\0') {
    std::snprintf(input_file, sizeof input_file, "%s/qorv-run-file-fuzz-XXXXXX",
                  ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    const int fd = ::mkstemp(input_file);
    if (fd < 0) std::abort();
    ::close(fd);
    std::atexit([] { ::unlink(input_file); });
  }
  return input_file;
}

[[noreturn]] void Fail(const std::string& problem) {
  std::fprintf(stderr, "%s\n", problem.c_str());
  std::abort();
}

// Walks the trees from their roots without recursion, each node once; a
// node met again while it is on the path is a cycle.
void CheckAcyclic(const qorv::FWDAttributes& attributes) {
  struct Frame {
    const qorv::FwdNode* node;
    std::vector<const qorv::FwdNode*> children;
    std::size_t next;
  };
  std::unordered_set<const qorv::FwdNode*> on_path, done;
  std::vector<Frame> path;
  const auto enter = [&](const qorv::FwdNode* node) {
    Frame frame{node, {}, 0};
    for (const auto& group : node->dependencies) {
      for (const auto& child : group) {
        if (child) frame.children.push_back(child.get());
      }
    }
    on_path.insert(node);
    path.push_back(std::move(frame));
  };
  for (const auto& root : attributes.roots) {
    if (!root || done.count(root.get())) continue;
    enter(root.get());
    while (!path.empty()) {
      Frame& top = path.back();
      if (top.next == top.children.size()) {
        on_path.erase(top.node);
        done.insert(top.node);
        path.pop_back();
        continue;
      }
      const qorv::FwdNode* child = top.children[top.next++];
      if (on_path.count(child)) Fail("the run's Framework Definitions depend on each other in a cycle");
      if (!done.count(child)) enter(child);  // may reallocate the path: top is not used after
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = InputFile();
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) ||
      ::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::close(fd) != 0) {
    std::abort();
  }
  try {
    const qorv::tools::RunFile run = qorv::tools::ReadRunFile(path);
    if (!run.config || !run.config->fwd_attributes) Fail("a run without its configuration");
    CheckAcyclic(*run.config->fwd_attributes);
  } catch (const qorv::tools::RunFileError& error) {
    const std::string message = error.what();
    const bool printable = std::none_of(message.begin(), message.end(),
                                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    if (message.rfind(path + ":", 0) != 0 || !printable) Fail("not one printable line naming the file: " + message);
  }
  return 0;
}
