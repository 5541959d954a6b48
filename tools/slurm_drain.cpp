#include "tools/slurm_drain.h"

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <simdjson.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

#include "extensions/common/json_writer.h"
#include "postprocessor/host/str.h"
#include "postprocessor/host/tokenized_host.h"
#include "postprocessor/support/utf8.h"
#include "tools/results_document.h"

namespace qorv::tools {

const std::vector<std::string> kSinfoArguments = {"--Node", "--noheader", "--format=%N|%T|%E"};

namespace {

constexpr char kProgram[] = "qorv-postprocess";

// A node-range argument longer than this is split over several commands:
// the kernel takes no single argument over 128 KiB.
constexpr std::size_t kRangeLimit = 16384;

// A Slurm command that has not finished by then is stopped.
constexpr int kCommandSeconds = 120;

// At most this much of a command's output is kept for the report.
constexpr std::size_t kOutputLimit = 65536;

constexpr char kEllipsis[] = "\xE2\x80\xA6";  // U+2026

// ---------------------------------------------------------------- reasons

// Characters a reason shows as a space: controls, line and paragraph
// separators, and the marks that reorder text on the screen.
bool Blank(long code) {
  return code <= 0x20 || (code >= 0x7F && code <= 0xA0) || code == 0x2028 || code == 0x2029 || code == 0x200E ||
         code == 0x200F || (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
}

// The text on one line: blanks as single spaces, none at either end,
// ill-formed UTF-8 as U+FFFD, '"' as '\''.
std::string OneLine(std::string_view text) {
  std::string line;
  bool after_space = true;
  for (std::size_t i = 0; i < text.size();) {
    // An ill-formed byte is replaced on its own.
    const utf8::Decoded decoded = utf8::decode(text, i);
    const long code = decoded.well_formed ? static_cast<long>(decoded.code) : -1;
    const std::size_t length = decoded.well_formed ? decoded.length : 1;
    if (code >= 0 && Blank(code)) {
      if (!after_space) line += ' ';
      after_space = true;
    } else {
      after_space = false;
      if (code < 0) {
        line += "\xEF\xBF\xBD";
      } else if (code == '"') {
        line += '\'';
      } else {
        line.append(text.substr(i, length));
      }
    }
    i += length;
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// ---------------------------------------------------------------- results

// The plan's view of a results document.
RunResults ReadDocument(const ResultsDocument& document) {
  const std::string& file = document.file();
  const simdjson::dom::object root = document.root();
  RunResults results;
  results.file = file;
  document.ForEachIssue([&](simdjson::dom::object object, const std::string& where) {
    ResultIssue issue;
    issue.id = std::string(document.Text(document.Field(object, "id", where), where + ".id"));
    issue.message = std::string(document.Text(document.Field(object, "message", where), where + ".message"));
    if (document.Field(object, "severity", where).get_int64().get(issue.severity) != simdjson::SUCCESS) {
      throw DrainError(file + ": " + where + ".severity is not a whole number");
    }
    const auto group = document.Field(object, "severity_group", where);
    if (!group.is_null()) issue.group = std::string(document.Text(group, where + ".severity_group"));
    if (document.Field(object, "contributes_to_fail", where).get_bool().get(issue.contributes_to_fail) !=
        simdjson::SUCCESS) {
      throw DrainError(file + ": " + where + ".contributes_to_fail is not true or false");
    }
    std::string_view type;
    if (object["type"].get_string().get(type) == simdjson::SUCCESS) {
      issue.type_rank = type == "diagnosis" ? 0 : type == "observation" ? 1 : 2;
    }
    issue.nodes = document.NodeNames(document.Field(object, "nodes", where), where + ".nodes");
    results.issues.push_back(std::move(issue));
  });
  results.tested = document.NodeNames(document.Field(root, "tested_nodes", "the document"), "tested_nodes");
  return results;
}

// ---------------------------------------------------------------- nodes

// Names scontrol can be given in a node range: a host name's characters.
bool Nameable(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
  });
}

enum class StateKind { kUp, kDrained, kDown };

// sinfo's long state names: "drained", "draining" and "drain" carry the
// drain flag; "down" and "fail"/"failing" nodes are out for Slurm's own
// reasons. Suffixes (*, ~, #, ...) say nothing about either.
StateKind Kind(const std::string& state) {
  if (StartsWith(state, "down") || StartsWith(state, "fail") || state.find("+down") != std::string::npos ||
      state.find("+fail") != std::string::npos) {
    return StateKind::kDown;
  }
  if (StartsWith(state, "drain") || state.find("+drain") != std::string::npos) return StateKind::kDrained;
  return StateKind::kUp;
}

std::string Range(const std::vector<std::string>& nodes) { return TokenizedHost::get_merged_hosts(nodes); }

// Node lists whose ranges each fit a command line.
std::vector<std::vector<std::string>> Batches(const std::vector<std::string>& nodes) {
  if (nodes.size() <= 1 || Range(nodes).size() <= kRangeLimit) return {nodes};
  const auto middle = nodes.begin() + static_cast<std::ptrdiff_t>(nodes.size() / 2);
  auto batches = Batches({nodes.begin(), middle});
  for (auto& batch : Batches({middle, nodes.end()})) batches.push_back(std::move(batch));
  return batches;
}

// A reason from Slurm or a name from a file, fit for one line of a report.
std::string Quoted(std::string_view text) { return "\"" + str::escape_controls(text, false) + "\""; }

// ---------------------------------------------------------------- commands

// One word for a POSIX shell: as it is when nothing in it is special, in
// double quotes when nothing in it is special there (nor to an interactive
// shell's history), else in single quotes.
std::string ShellWord(std::string_view text) {
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("_./:@%+,=-", c) != nullptr;
  };
  if (!text.empty() && std::all_of(text.begin(), text.end(), plain)) return std::string(text);
  if (text.find_first_of("\"$`\\!") == std::string_view::npos) return "\"" + std::string(text) + "\"";
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

// A command as it would be typed: KEY=value arguments with the value quoted.
std::string Shown(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& argument : argv) {
    if (!line.empty()) line += ' ';
    const std::string text = str::escape_controls(argument, false);
    const auto equals = text.find('=');
    if (&argument != &argv.front() && equals != std::string::npos && equals > 0 &&
        std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(equals),
                    [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; })) {
      line += text.substr(0, equals + 1) + ShellWord(std::string_view(text).substr(equals + 1));
    } else {
      line += ShellWord(text);
    }
  }
  return line;
}

// What a command said, on one line.
std::string Said(const std::string& output) {
  std::string text = str::strip(output);
  std::replace(text.begin(), text.end(), '\n', ' ');
  text = str::escape_controls(text, false);
  return text.empty() ? "(no message)" : text;
}

// 15, 11.43, 0.05: two decimals at most, none that are zero.
std::string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string result = text;
  result.erase(result.find_last_not_of('0') + 1);
  if (result.back() == '.') result.pop_back();
  return result;
}

double Share(const DrainPlan& plan) {
  return plan.node_count == 0 ? 100.0
                              : 100.0 * static_cast<double>(plan.failing.size()) / static_cast<double>(plan.node_count);
}

std::string CountSource(const DrainPlan& plan) {
  return plan.states_read ? "the nodes Slurm lists" : "the run's tested nodes";
}

struct Action {
  std::string reason;  // empty for a resume
  std::vector<std::string> nodes;
  std::vector<std::string> argv;
  enum class Outcome { kPlanned, kDone, kFailed } outcome = Outcome::kPlanned;
  int status = 0;
  std::string output;
};

std::vector<Action> Actions(const DrainPlan& plan, const std::string& scontrol) {
  std::vector<Action> actions;
  for (const auto& group : plan.drain) {
    for (auto& nodes : Batches(group.nodes)) {
      Action action;
      action.reason = group.reason;
      action.argv = {scontrol, "update", "NodeName=" + Range(nodes), "State=DRAIN", "Reason=" + group.reason};
      action.nodes = std::move(nodes);
      actions.push_back(std::move(action));
    }
  }
  for (auto& nodes : Batches(plan.resume)) {
    if (nodes.empty()) continue;
    Action action;
    action.argv = {scontrol, "update", "NodeName=" + Range(nodes), "State=RESUME"};
    action.nodes = std::move(nodes);
    actions.push_back(std::move(action));
  }
  return actions;
}

// ---------------------------------------------------------------- reports

void WriteText(const DrainOptions& options, const DrainPlan& plan, bool refused, std::ostream& out) {
  out << "# " << kProgram << " drain: " << (options.apply ? "applying the plan for " : "plan for ")
      << str::escape_controls(options.results_file, false)
      << (options.apply ? "" : " (dry run: nothing is changed; --apply carries it out)") << "\n";
  out << "# Nodes with a failing issue: " << plan.failing.size() << " of " << plan.node_count << " ("
      << Percent(Share(plan)) << "%; one run drains at most " << Percent(options.max_share) << "%"
      << (options.force ? ", overridden by --force" : "") << "); node count: " << CountSource(plan) << "\n";
  if (refused) {
    out << "# Refused: nothing is drained or resumed; the nodes with a failing issue are " << Range(plan.failing)
        << "\n";
    return;
  }
  for (const auto& group : plan.unchanged) {
    out << "# Already drained for their reason: " << Range(group.nodes) << ": " << Quoted(group.reason) << "\n";
  }
  for (const auto& group : plan.skipped) {
    out << "# Left alone: " << Range(group.nodes) << ": " << group.reason << "\n";
  }
  if (!plan.states_read && !plan.healthy.empty()) {
    out << "# Resumed by --apply where drained with a reason beginning " << Quoted(kReasonPrefix)
        << ": the tested nodes without a failing issue, " << Range(plan.healthy) << "\n";
  }
}

void WriteNodes(std::string& json, const std::vector<std::string>& nodes) {
  json += "{\"range\": ";
  json_report::AppendJsonString(json, Range(nodes));
  json += ", \"count\": " + std::to_string(nodes.size()) + ", \"names\": [";
  for (const auto& node : nodes) {
    if (&node != &nodes.front()) json += ", ";
    json_report::AppendJsonString(json, node);
  }
  json += "]}";
}

void WriteGroups(std::string& json, const char* key, const std::vector<DrainPlan::Group>& groups,
                 const char* reason_key) {
  json += std::string("  \"") + key + "\": [";
  for (const auto& group : groups) {
    json += &group == &groups.front() ? "\n    {\"" : ",\n    {\"";
    json += reason_key;
    json += "\": ";
    json_report::AppendJsonString(json, group.reason);
    json += ", \"nodes\": ";
    WriteNodes(json, group.nodes);
    json += "}";
  }
  json += groups.empty() ? "],\n" : "\n  ],\n";
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

void WriteJson(const DrainOptions& options, const DrainPlan& plan, bool refused, const std::vector<Action>& actions,
               int status, std::ostream& out) {
  std::string json = "{\n  \"drain_version\": 1,\n  \"results_file\": ";
  json_report::AppendJsonString(json, options.results_file);
  json += ",\n  \"applied\": " + std::string(options.apply && !refused ? "true" : "false");
  json += ",\n  \"severity\": \"";
  json += options.bar == DrainBar::kFail ? "fail" : options.bar == DrainBar::kWarning ? "warning" : "critical";
  json += "\",\n  \"node_states_read\": " + std::string(plan.states_read ? "true" : "false");
  json += ",\n  \"guard\": {\"failing_nodes\": " + std::to_string(plan.failing.size()) +
          ", \"node_count\": " + std::to_string(plan.node_count) + ", \"node_count_from\": \"" +
          (plan.states_read ? "slurm" : "tested_nodes") + "\", \"share_percent\": " + Number(Share(plan)) +
          ", \"max_share_percent\": " + Number(options.max_share) +
          ", \"forced\": " + (options.force ? "true" : "false") + ", \"refused\": " + (refused ? "true" : "false") +
          "},\n  \"commands\": [";
  for (const auto& action : actions) {
    json += &action == &actions.front() ? "\n    {" : ",\n    {";
    json += "\"action\": \"" + std::string(action.reason.empty() ? "resume" : "drain") + "\", \"reason\": ";
    if (action.reason.empty()) {
      json += "null";
    } else {
      json_report::AppendJsonString(json, action.reason);
    }
    json += ", \"nodes\": ";
    WriteNodes(json, action.nodes);
    json += ", \"argv\": [";
    for (const auto& argument : action.argv) {
      if (&argument != &action.argv.front()) json += ", ";
      json_report::AppendJsonString(json, argument);
    }
    json += "], \"outcome\": \"";
    json += refused                                      ? "refused"
            : action.outcome == Action::Outcome::kDone   ? "done"
            : action.outcome == Action::Outcome::kFailed ? "failed"
                                                         : "planned";
    json += "\", \"exit_status\": ";
    json += action.outcome == Action::Outcome::kPlanned ? "null" : std::to_string(action.status);
    json += ", \"output\": ";
    json_report::AppendJsonString(json, action.output);
    json += "}";
  }
  json += actions.empty() ? "],\n" : "\n  ],\n";
  WriteGroups(json, "unchanged", plan.unchanged, "reason");
  WriteGroups(json, "skipped", plan.skipped, "why");
  json += "  \"failing_nodes\": ";
  WriteNodes(json, plan.failing);
  json += ",\n  \"healthy_nodes\": ";
  WriteNodes(json, plan.healthy);
  json += ",\n  \"exit_status\": " + std::to_string(status) + "\n}\n";
  out << json;
}

}  // namespace

// ---------------------------------------------------------------- public

std::string DrainReason(std::string_view id, std::string_view message, std::size_t more) {
  const std::string name = OneLine(id);
  std::string body = std::string(kReasonPrefix) + (name.empty() ? "(no id)" : name);
  if (const std::string text = OneLine(message); !text.empty()) body += ": " + text;
  const std::string suffix = more > 0 ? " (+" + std::to_string(more) + " more)" : "";
  const std::size_t budget = kReasonLimit - suffix.size();
  if (body.size() > budget) {
    // Cut before a character, at a space when one is near, and mark the cut.
    std::size_t cut = utf8::cut_before(body, budget - (sizeof kEllipsis - 1));
    const std::size_t space = body.rfind(' ', cut);
    if (space != std::string::npos && space > kReasonPrefix.size() && space + 16 >= cut) cut = space;
    body.erase(cut);
    while (!body.empty() && std::strchr(" ,;:", body.back()) != nullptr) body.pop_back();
    body += kEllipsis;
  }
  return body + suffix;
}

SlurmNodes ParseNodeStates(std::string_view output) {
  SlurmNodes nodes;
  SlurmNode* last = nullptr;  // the node whose reason a line without a node continues
  if (!output.empty() && output.back() == '\n') output.remove_suffix(1);
  while (!output.empty() || last != nullptr) {
    const auto end = output.find('\n');
    std::string_view line = output.substr(0, end);
    output = end == std::string_view::npos ? std::string_view() : output.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto first = line.find('|');
    const auto second = first == std::string_view::npos ? first : line.find('|', first + 1);
    const std::string_view name = line.substr(0, first);
    const std::string_view state =
        second == std::string_view::npos ? std::string_view() : line.substr(first + 1, second - first - 1);
    const bool record =
        second != std::string_view::npos && !name.empty() && !state.empty() &&
        std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; }) &&
        std::all_of(state.begin(), state.end(), [](char c) {
          return std::isalpha(static_cast<unsigned char>(c)) || std::strchr("_+*~#%!$@^-", c);
        });
    if (record) {
      // A node in several partitions is listed once for each.
      const auto [it, inserted] = nodes.emplace(
          std::string(name), SlurmNode{str::lower(std::string(state)), std::string(line.substr(second + 1))});
      last = inserted ? &it->second : nullptr;
    } else if (last != nullptr) {
      last->reason += "\n";
      last->reason += line;
    }
    if (end == std::string_view::npos) break;
  }
  return nodes;
}

RunResults ReadResults(const std::string& file) {
  try {
    return ReadDocument(ResultsDocument(file));
  } catch (const ResultsError& error) {
    throw DrainError(error.what());
  }
}

DrainPlan PlanDrain(const RunResults& results, DrainBar bar, const SlurmNodes* states) {
  const auto failing = [bar](const ResultIssue& issue) {
    switch (bar) {
      case DrainBar::kFail: return issue.contributes_to_fail;
      case DrainBar::kWarning: return issue.group == "WARNING" || issue.group == "CRITICAL";
      case DrainBar::kCritical: return issue.group == "CRITICAL";
    }
    return false;
  };
  // The most severe first: by severity, diagnoses before observations,
  // then by id and message, so that the choice does not depend on order.
  const auto before = [](const ResultIssue* a, const ResultIssue* b) {
    return std::make_tuple(-a->severity, a->type_rank, a->id, a->message) <
           std::make_tuple(-b->severity, b->type_rank, b->id, b->message);
  };

  std::map<std::string, std::vector<const ResultIssue*>> issues_of;
  std::set<std::string> unnameable;
  for (const auto& issue : results.issues) {
    if (!failing(issue)) continue;
    for (const auto& node : issue.nodes) {
      if (Nameable(node)) {
        issues_of[node].push_back(&issue);
      } else {
        unnameable.insert(node);
      }
    }
  }

  DrainPlan plan;
  plan.states_read = states != nullptr;
  for (const auto& [node, issues] : issues_of) plan.failing.push_back(node);
  plan.failing.insert(plan.failing.end(), unnameable.begin(), unnameable.end());
  std::map<std::string, std::vector<std::string>> drain, unchanged, skipped;
  if (!unnameable.empty()) {
    skipped["names Slurm cannot be given"].assign(unnameable.begin(), unnameable.end());
  }
  const auto out_for = [](const SlurmNode& node) {
    const std::string state = node.state.substr(0, node.state.find_first_not_of("abcdefghijklmnopqrstuvwxyz_"));
    return state + " in Slurm: " + Quoted(node.reason);
  };
  for (auto& [node, issues] : issues_of) {
    std::sort(issues.begin(), issues.end(), before);
    std::set<std::pair<std::string, std::string>> distinct;
    for (const auto* issue : issues) distinct.emplace(issue->id, issue->message);
    const std::string reason = DrainReason(issues.front()->id, issues.front()->message, distinct.size() - 1);
    if (states == nullptr) {
      drain[reason].push_back(node);
      continue;
    }
    const auto found = states->find(node);
    if (found == states->end()) {
      skipped["not a node Slurm lists"].push_back(node);
      continue;
    }
    const SlurmNode& slurm = found->second;
    switch (Kind(slurm.state)) {
      case StateKind::kDown: skipped[out_for(slurm)].push_back(node); break;
      case StateKind::kDrained:
        if (slurm.reason == reason) {
          unchanged[reason].push_back(node);
        } else if (StartsWith(slurm.reason, kReasonPrefix)) {
          drain[reason].push_back(node);  // ours, for another reason: now this one
        } else {
          skipped["drained by someone else: " + Quoted(slurm.reason)].push_back(node);
        }
        break;
      case StateKind::kUp: drain[reason].push_back(node); break;
    }
  }

  const std::set<std::string> tested(results.tested.begin(), results.tested.end());
  for (const auto& node : tested) {
    if (Nameable(node) && issues_of.count(node) == 0) plan.healthy.push_back(node);
  }
  if (states != nullptr) {
    for (const auto& [node, slurm] : *states) {
      const StateKind kind = Kind(slurm.state);
      if (kind == StateKind::kUp || !StartsWith(slurm.reason, kReasonPrefix) || issues_of.count(node) != 0) continue;
      if (tested.count(node) == 0) {
        skipped["drained by qorv, not tested by this run"].push_back(node);
      } else if (kind == StateKind::kDown) {
        skipped[out_for(slurm)].push_back(node);
      } else if (Nameable(node)) {
        plan.resume.push_back(node);
      }
    }
    plan.node_count = states->size();
  } else {
    plan.node_count = tested.size();
  }
  for (auto& [reason, nodes] : drain) plan.drain.push_back({reason, std::move(nodes)});
  for (auto& [reason, nodes] : unchanged) plan.unchanged.push_back({reason, std::move(nodes)});
  for (auto& [why, nodes] : skipped) plan.skipped.push_back({why, std::move(nodes)});
  return plan;
}

bool ExceedsShare(const DrainPlan& plan, double max_share) {
  const auto failing = static_cast<double>(plan.failing.size());
  const auto nodes = static_cast<double>(plan.node_count);
  // Exactly the share is allowed, rounding aside.
  return failing > 0 && (plan.node_count == 0 || failing * 100.0 - max_share * nodes > 1e-9 * nodes);
}

CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  std::vector<char*> arguments;
  for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  const std::string cannot_run = "cannot run " + argv.front() + ": ";

  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
    return {127, cannot_run + std::strerror(errno)};
  }
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    return {127, cannot_run + std::strerror(error)};
  }
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, STDIN_FILENO);
    ::dup2(pipe_ends[1], STDOUT_FILENO);
    ::dup2(pipe_ends[1], STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);
    ::execvp(arguments[0], arguments.data());
    const std::string message = cannot_run + std::strerror(errno) + "\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, message.data(), message.size());
    ::_exit(127);
  }
  ::close(pipe_ends[1]);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kCommandSeconds);
  bool timed_out = false;
  char buffer[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd poll_fd{pipe_ends[0], POLLIN, 0};
    const int ready = ::poll(&poll_fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timed_out = ready == 0;
      break;
    }
    const ssize_t count = ::read(pipe_ends[0], buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    if (result.output.size() < kOutputLimit) {
      result.output.append(buffer, std::min(static_cast<std::size_t>(count), kOutputLimit - result.output.size()));
    }
  }
  ::close(pipe_ends[0]);
  if (timed_out) ::kill(child, SIGKILL);
  int wait_status = 0;
  while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) {
    result.status = 124;
    result.output += "(no answer within " + std::to_string(kCommandSeconds) + " seconds: stopped)";
  } else if (WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  } else {
    result.status = 128 + (WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0);
  }
  return result;
}

int Drain(const DrainOptions& options, const CommandRunner& run, std::ostream& out, std::ostream& err) {
  const std::string me = std::string(kProgram) + ": drain: ";
  RunResults results;
  try {
    results = ReadResults(options.results_file);
  } catch (const DrainError& error) {
    err << kProgram << ": " << str::escape_controls(error.what(), false) << "\n";
    return 2;
  }

  SlurmNodes states;
  if (options.apply) {
    std::vector<std::string> argv = {options.sinfo};
    argv.insert(argv.end(), kSinfoArguments.begin(), kSinfoArguments.end());
    const CommandResult listed = run(argv);
    if (listed.status != 0) {
      err << me << "cannot read the node states: " << Shown(argv) << " failed (exit status " << listed.status
          << "): " << Said(listed.output) << "; nothing was changed\n";
      return 1;
    }
    states = ParseNodeStates(listed.output);
  }
  const DrainPlan plan = PlanDrain(results, options.bar, options.apply ? &states : nullptr);
  const bool refused = !options.force && ExceedsShare(plan, options.max_share);
  std::vector<Action> actions = Actions(plan, options.scontrol);

  if (refused) {
    err << me << "refused: the run has failing issues on " << plan.failing.size() << " of " << plan.node_count
        << " nodes (" << Percent(Share(plan)) << "%), more than the " << Percent(options.max_share)
        << "% one run may drain (--max-share; node count: " << CountSource(plan)
        << "). A check that fails everywhere is more likely broken than the nodes: look at the results, and "
           "use --force only if the nodes are really at fault. Nothing was changed.\n";
  }
  if (!options.json) {
    WriteText(options, plan, refused, out);
    if (!refused && actions.empty()) {
      out << "# Nothing to drain or resume\n";
    }
  }

  int status = refused ? 1 : 0;
  std::size_t drained = 0, resumed = 0, failed = 0;
  if (!refused) {
    for (auto& action : actions) {
      if (!options.json) out << Shown(action.argv) << "\n" << std::flush;
      if (!options.apply) continue;
      const CommandResult result = run(action.argv);
      action.status = result.status;
      action.output = result.output;
      if (result.status == 0) {
        action.outcome = Action::Outcome::kDone;
        (action.reason.empty() ? resumed : drained) += action.nodes.size();
        if (!options.json) out << "#   done\n";
      } else {
        action.outcome = Action::Outcome::kFailed;
        ++failed;
        status = 1;
        if (!options.json) out << "#   failed (exit status " << result.status << "): " << Said(result.output) << "\n";
        err << me << Shown(action.argv) << " failed (exit status " << result.status << "): " << Said(result.output)
            << "\n";
      }
    }
    if (options.apply && !options.json && !actions.empty()) {
      out << "# Drained " << drained << (drained == 1 ? " node" : " nodes") << ", resumed " << resumed
          << (failed == 0 ? "" : "; " + std::to_string(failed) + (failed == 1 ? " command" : " commands") + " failed")
          << "\n";
    }
  }
  if (options.json) WriteJson(options, plan, refused, actions, status, out);
  out.flush();
  return status;
}

namespace {

void PrintDrainHelp() {
  std::cout << "Usage: " << kProgram << " drain [OPTION]... RESULTS.json\n"
            << "Take the nodes with a failing issue in a run's JSON results (qorv_results.json)\n"
               "out of Slurm (State=DRAIN, with a reason beginning \"qorv: \"), and give back\n"
               "the nodes drained that way that the run tested and found without one\n"
               "(State=RESUME). Nodes drained, down or failed for other reasons are left\n"
               "alone. Without --apply, only print the scontrol commands.\n"
               "\n"
               "      --apply              read the node states with sinfo, then run the commands\n"
               "      --severity=GROUP     drain for every issue of severity group GROUP\n"
               "                           (warning or critical) and above, instead of the\n"
               "                           issues contributing to FAIL\n"
               "      --max-share=PERCENT  refuse a plan that drains more than PERCENT of the\n"
               "                           cluster's nodes (default 10)\n"
               "      --force              carry out a plan over --max-share all the same\n"
               "      --json               write the plan and its outcome as JSON\n"
               "      --scontrol=PATH      the scontrol program (default: scontrol on PATH)\n"
               "      --sinfo=PATH         the sinfo program (default: sinfo on PATH)\n"
               "      --slurm-conf=FILE    the cluster's slurm.conf (default: $SLURM_CONF, else\n"
               "                           Slurm's own)\n"
               "  -h, --help               show this help and exit\n"
               "\n"
               "The node count for --max-share is Slurm's with --apply, else the run's tested\n"
               "nodes. Each command is run on its own, without a shell.\n"
               "\n"
               "Exit status: 0 done, 1 a Slurm command failed or the plan was refused, 2 bad\n"
               "usage or a file that is not a results document.\n";
}

[[noreturn]] void DrainUsageError(const std::string& problem) {
  std::cerr << kProgram << ": drain: " << str::escape_controls(problem, false) << "\nTry '" << kProgram
            << " drain --help' for more information.\n";
  std::exit(2);
}

}  // namespace

int DrainCommand(int argc, char** argv) {
  enum { kApply = 256, kSeverity, kMaxShare, kForce, kJson, kScontrol, kSinfo, kSlurmConf };
  static const option kLongOptions[] = {
      {"apply", no_argument, nullptr, kApply},
      {"severity", required_argument, nullptr, kSeverity},
      {"max-share", required_argument, nullptr, kMaxShare},
      {"force", no_argument, nullptr, kForce},
      {"json", no_argument, nullptr, kJson},
      {"scontrol", required_argument, nullptr, kScontrol},
      {"sinfo", required_argument, nullptr, kSinfo},
      {"slurm-conf", required_argument, nullptr, kSlurmConf},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  DrainOptions options;
  std::string slurm_conf;
  std::vector<std::string> files;
  opterr = 0;
  optind = 0;  // a fresh scan
  // "-": the results file comes as code 1, so options may stand anywhere on
  // the line even where POSIXLY_CORRECT is set.
  for (int code; (code = getopt_long(argc, argv, "-:h", kLongOptions, nullptr)) != -1;) {
    const std::string value = optarg != nullptr ? optarg : "";
    switch (code) {
      case 1: files.push_back(value); break;
      case kApply: options.apply = true; break;
      case kSeverity:
        if (value == "warning") {
          options.bar = DrainBar::kWarning;
        } else if (value == "critical") {
          options.bar = DrainBar::kCritical;
        } else if (value == "fail") {
          options.bar = DrainBar::kFail;
        } else {
          DrainUsageError("--severity: '" + value + "' is not warning, critical or fail");
        }
        break;
      case kMaxShare: {
        char* end = nullptr;
        errno = 0;
        const double share = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(share) || share < 0 || share > 100 ||
            value.find_first_not_of("0123456789.") != std::string::npos) {
          DrainUsageError("--max-share: '" + value + "' is not a percentage from 0 to 100");
        }
        options.max_share = share;
        break;
      }
      case kForce: options.force = true; break;
      case kJson: options.json = true; break;
      case kScontrol:
      case kSinfo:
        if (value.empty()) DrainUsageError(std::string(code == kSinfo ? "--sinfo" : "--scontrol") + " needs a program");
        (code == kSinfo ? options.sinfo : options.scontrol) = value;
        break;
      case kSlurmConf: {
        struct stat info {};
        if (value.empty() || ::stat(value.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
          DrainUsageError("--slurm-conf: '" + value + "' is not a file");
        }
        slurm_conf = value;
        break;
      }
      case 'h': PrintDrainHelp(); return std::cout.flush() ? 0 : 2;
      case ':': DrainUsageError(std::string("option '") + argv[optind - 1] + "' needs a value");
      default:
        DrainUsageError(optopt ? std::string("unknown option '-") + static_cast<char>(optopt) + "'"
                               : std::string("unknown option '") + argv[optind - 1] + "'");
    }
  }
  for (int index = optind; index < argc; ++index) files.push_back(argv[index]);  // after "--"
  if (files.empty()) DrainUsageError("no results file given");
  if (files.size() > 1) DrainUsageError("more than one results file given: '" + files[1] + "'");
  options.results_file = files[0];
  // scontrol and sinfo read it from the environment they inherit.
  if (!slurm_conf.empty()) ::setenv("SLURM_CONF", slurm_conf.c_str(), 1);
  try {
    return Drain(options, RunCommand, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << kProgram << ": drain: not enough memory; commands already run are reported above\n";
    return 2;
  }
}

}  // namespace qorv::tools
