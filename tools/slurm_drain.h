// The "drain" command of qorv-postprocess: acts on a run's JSON results
// (docs/results-json.md) in the Slurm scheduler (docs/slurm-drain.md).
//
// Nodes with a failing issue are drained, one reason per node; nodes this
// command drained earlier (their reason begins with kReasonPrefix) that the
// run tested and found without a failing issue are resumed. Nodes drained,
// down or failed for any other reason are never touched, and a plan that
// drains more than a set share of the cluster is refused. Without --apply
// the plan is only printed, as the scontrol commands it would run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::tools {

// Every reason this command gives begins with it; a drain whose reason
// does not is someone else's.
inline constexpr std::string_view kReasonPrefix = "qorv: ";

// A reason is at most this many bytes of UTF-8, so that it stays whole in
// Slurm's listings (sinfo -R -o '%64E %N').
inline constexpr std::size_t kReasonLimit = 64;

// A results file that cannot be read or is not a results document.
// what() names the file and the problem.
class DrainError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Which issues take a node out: those contributing to FAIL (the default),
// or all of a severity group and above.
enum class DrainBar { kFail, kWarning, kCritical };

// One node as Slurm lists it (sinfo -N -h -o '%N|%T|%E').
struct SlurmNode {
  std::string state;   // "idle", "drained*", "draining", "down*", ...
  std::string reason;  // "none" when there is none
};
using SlurmNodes = std::map<std::string, SlurmNode>;

// The arguments sinfo is run with to list the node states.
extern const std::vector<std::string> kSinfoArguments;

// Reads the output of sinfo with kSinfoArguments. A node listed once per
// partition is one node; a reason that holds a line break continues on the
// next line. Lines that name no node are ignored.
SlurmNodes ParseNodeStates(std::string_view output);

// The reason for a node whose most severe failing issue is id with
// message, and `more` other failing issues: "qorv: <id>: <message>" with
// " (+N more)", control characters and line breaks as spaces, '"' as '\''
// (scontrol takes quotes at either end away), cut on a character boundary
// to kReasonLimit bytes with "…".
std::string DrainReason(std::string_view id, std::string_view message, std::size_t more);

// What a plan needs of a results document.
struct ResultIssue {
  std::string id;
  std::string message;
  std::int64_t severity = 0;
  std::string group;  // severity group, "" for none
  bool contributes_to_fail = false;
  int type_rank = 0;  // diagnosis 0, observation 1, anything else 2
  std::vector<std::string> nodes;
};
struct RunResults {
  std::string file;
  std::vector<ResultIssue> issues;
  std::vector<std::string> tested;  // tested_nodes
};

// Reads a qorv_results.json document (schema version 1). Throws DrainError
// naming the file and the problem.
RunResults ReadResults(const std::string& file);

struct DrainPlan {
  struct Group {
    std::string reason;  // of the drain; for skipped nodes, why they are left alone
    std::vector<std::string> nodes;
  };
  std::vector<Group> drain;         // one per reason
  std::vector<std::string> resume;  // with node states: the nodes to resume
  // The tested nodes without a failing issue: those of them drained by this
  // command are resumed (with node states, `resume` holds them).
  std::vector<std::string> healthy;
  std::vector<Group> unchanged;      // already drained for their reason
  std::vector<Group> skipped;        // left alone, by why
  std::vector<std::string> failing;  // the nodes with a failing issue: what the guard counts
  std::size_t node_count = 0;        // the cluster's, from Slurm or the run's tested nodes
  bool states_read = false;
};

// The plan for a run's results. With states (read from Slurm), nodes drained
// for their reason already and nodes Slurm does not know or someone else
// has taken out are left alone, and the nodes to resume are chosen; the
// node count is then Slurm's.
DrainPlan PlanDrain(const RunResults& results, DrainBar bar, const SlurmNodes* states);

// Whether the plan drains more than max_share percent of node_count.
bool ExceedsShare(const DrainPlan& plan, double max_share);

// Runs a program with its arguments (never through a shell); the result is
// its exit status (127 when it cannot be started) and what it wrote to
// standard output and standard error.
struct CommandResult {
  int status = 0;
  std::string output;
};
using CommandRunner = std::function<CommandResult(const std::vector<std::string>& argv)>;
CommandResult RunCommand(const std::vector<std::string>& argv);

struct DrainOptions {
  std::string results_file;
  DrainBar bar = DrainBar::kFail;
  double max_share = 10;  // percent
  bool force = false;
  bool apply = false;
  bool json = false;
  std::string scontrol = "scontrol";
  std::string sinfo = "sinfo";
};

// Plans and, with apply, carries out; writes the report to out and the
// problems to err. Returns the exit status: 0 done, 1 a command failed or
// the guard refused, 2 a results file that cannot be used.
int Drain(const DrainOptions& options, const CommandRunner& run, std::ostream& out, std::ostream& err);

// qorv-postprocess drain [OPTION]... RESULTS.json; argv[0] is "drain".
int DrainCommand(int argc, char** argv);

}  // namespace qorv::tools
