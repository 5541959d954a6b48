// Runs the built qorv-postprocess on small run files in temporary
// directories and checks its exit status, its messages and the files it
// leaves behind.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "postprocessor/host/str.h"
#include "postprocessor/version.h"
#include "tests/report/report_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

using qorv::testing::ReadFile;
using qorv::testing::TempDir;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with args in directory cwd, with SOURCE_DATE_EPOCH set
// to epoch when it is not null. Standard input is /dev/null, or a terminal
// of `columns` columns when that is not negative.
Result RunProgram(const std::vector<std::string>& args, const std::string& cwd, const char* epoch = nullptr,
                  int columns = -1) {
  TempDir capture;
  const std::string out = capture / "out", err = capture / "err";
  int terminal = -1, input = -1;
  if (columns >= 0) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    if (::openpty(&terminal, &input, nullptr, nullptr, &size) != 0) return {};
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    ::dup2(input >= 0 ? input : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    epoch ? ::setenv("SOURCE_DATE_EPOCH", epoch, 1) : ::unsetenv("SOURCE_DATE_EPOCH");
    std::vector<char*> argv{const_cast<char*>(QORV_POSTPROCESS)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(QORV_POSTPROCESS, argv.data());
    ::_exit(127);
  }
  if (input >= 0) ::close(input);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (terminal >= 0) ::close(terminal);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

// A small run whose issue is on every one of `names`, the run's nodes, its
// message from a catalogue in the run's directory; `extra` adds fields at
// the top.
std::string SmallRun(const std::string& extra = "", const std::vector<std::string>& names = {"n1"}) {
  std::string nodes, list;
  for (const auto& name : names) {
    nodes += (nodes.empty() ? "{\"name\": \"" : ", {\"name\": \"") + name + "\"}";
    list += (list.empty() ? "\"" : ", \"") + name + "\"";
  }
  const std::string issue = R"({"id": "qorv-low", "severity": 80, "nodes": [)" + list + R"(], "args": ["n1"]})";
  return R"({
  "nodes": [)" +
         nodes + R"(],
  "fwds": [{"name": "basic", "signs": ["mem"], "catalogs": [{"directory": "./", "files": ["c.xml"]}]}],
  "observation_ids": {"qorv-low": ["mem"]},
  "observations": [)" +
         issue + R"(],
  "issues": [)" +
         issue + "]" + extra + "\n}\n";
}

const char kCatalog[] =
    R"(<message-catalog language="en"><message id="qorv-low">Memory low on {0}.</message></message-catalog>)";

// Every file under dir with its content, to tell whether a run wrote anything.
std::map<std::string, std::string> Snapshot(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    const bool file = !entry.is_symlink() && entry.is_regular_file();
    files[entry.path().string()] = file ? ReadFile(entry.path().string()) : "<not a file>";
  }
  return files;
}

// A result file that was written to its end: the JSON document closed, the
// metrics with their last family, a text report with its closing block.
bool Complete(const std::string& path) {
  const std::string text = ReadFile(path);
  if (path.size() > 5 && path.compare(path.size() - 5, 5, ".json") == 0) {
    return text.size() > 2 && text.compare(text.size() - 2, 2, "}\n") == 0;
  }
  if (path.size() > 5 && path.compare(path.size() - 5, 5, ".prom") == 0) {
    return text.find("# TYPE qorv_node_issues gauge\n") != std::string::npos && text.back() == '\n';
  }
  return text.find(std::string("Quorvane ") + qorv::postprocessor::kProductVersion + "\n") != std::string::npos &&
         text.back() == '\n';
}

// Definitions in levels of width each, every one depending on all of the
// level below: width 1 is a chain, width 2 a ladder with 2^levels paths.
std::string Layered(int levels, int width) {
  auto name = [](int level, int i) { return "\"f" + std::to_string(level) + "_" + std::to_string(i) + "\""; };
  std::string fwds;
  for (int level = 0; level < levels; ++level) {
    for (int i = 0; i < width; ++i) {
      fwds += (fwds.empty() ? "" : ",\n") + std::string(R"({"name": )") + name(level, i);
      if (level + 1 < levels) {
        fwds += R"(, "depends_on": [[)";
        for (int j = 0; j < width; ++j) fwds += (j ? ", " : "") + name(level + 1, j);
        fwds += "]]";
      }
      fwds += "}";
    }
  }
  return R"({"nodes": [{"name": "n1"}], "fwds": [)" + fwds + "]}\n";
}

const char kResults[] = "qorv_results.log";
const char kJson[] = "qorv_results.json";
const char kWarnings[] = "qorv_execution_warnings.log";

struct Case {
  const char* name;
  std::string run;                // written as run.json
  std::vector<std::string> args;  // after run.json and the extension directory
  int status;
  std::vector<std::string> err;                         // each must appear on standard error
  std::function<void(const TempDir&)> setup = nullptr;  // more files, before the run
  std::vector<std::string> results = {};                // result files that must be there, complete
  std::vector<std::string> out = {};                    // each must appear on standard output
  int columns = -1;                                     // a terminal this wide on standard input
  const char* epoch = nullptr;                          // SOURCE_DATE_EPOCH
  std::map<std::string, unsigned> modes = {};           // files' permission bits; 0: the file is not there
};

// Bad input of every kind, and the options, through the program: each gives
// its exit status and a message naming the file and the problem, never a
// crash. A refused run (status 2) or one that only processes leaves every
// file as it was; any result file a run leaves is complete.
TEST(QorvPostprocessBadInput, RefusesOrReportsEachPlainly) {
  const auto catalog = [](std::string text) { return [text](const TempDir& d) { d.Write("c.xml", text); }; };
  const auto third = [](const std::string& severity) {
    return SmallRun(",\n  \"third\": [{\"id\": \"a\", \"severity\": " + severity + "}]");
  };
  const std::vector<std::string> all = {kResults, kJson, kWarnings};
  std::vector<std::string> every_report;
  for (const char* name : {"category_summary", "category_log", "qorv_execution_warnings", "qorv_json", "qorv_junit",
                           "qorv_metrics", "qorv_html"}) {
    every_report.insert(every_report.end(), {"-e", name});
  }
  std::vector<std::string> many_nodes;
  for (int i = 1; i <= 100000; ++i) many_nodes.push_back("n" + std::to_string(i));
  const std::string plugins = QORV_TEST_PLUGIN_DIR;
  const std::string odd_output = "out/;touch pwned&|<x> *.log";
  // The results go where the output name expands to, all of them.
  const auto out_dir = [](const TempDir& d) { ::setenv("QORV_TEST_OUT", (d / "out").c_str(), 1); };
  const auto file = [](std::string name, std::string text) { return [=](const TempDir& d) { d.Write(name, text); }; };
  const auto rule = [&](const std::string& attributes) {
    return file("s.xml", "<qorv>\n  <suppressions>\n    <suppress " + attributes + "/>\n  </suppressions>\n</qorv>\n");
  };
  const std::vector<std::string> rules = {"--suppressions", "s.xml"};

  const std::vector<Case> cases = {
      {"pass", SmallRun(), {"-e", "category_log"}, 0, {}, nullptr, {kResults}},
      // The run file.
      {"run file missing",
       SmallRun(),
       {},
       2,
       {"qorv-postprocess: run.json: cannot open the run file: No such file"},
       [](const TempDir& d) { std::filesystem::remove(d / "run.json"); }},
      {"malformed json",
       "{\n  \"nodes\": [\n    {\"name\": \"n1\"},,\n  ]\n}\n",
       {},
       2,
       {"run.json:3:20: expected a value"}},
      {"file ends early", "{\"nodes\": [", {}, 2, {"run.json:1:12: the file ends early"}},
      {"empty run file", "", {}, 2, {"run.json:"}},
      {"binary run file",
       std::string("\x7f"
                   "ELF\x02\x01\x00\xff\xfe",
                   9),
       {},
       2,
       {"run.json:"}},
      {"wrong type",
       SmallRun(",\n  \"diagnoses\": [{\"id\": \"a\"}, {\"id\": \"b\", \"severity\": \"high\"}]"),
       {},
       2,
       {"run.json:7:54: diagnoses[1].severity: expected a number, found a string"}},
      {"severity -1", third("-1"), {}, 2, {"third[0].severity: -1 is out of range (a whole number from 0 to 100)"}},
      {"severity 101", third("101"), {}, 2, {"third[0].severity: 101 is out of range"}},
      {"severity 1e300", third("1e300"), {}, 2, {"third[0].severity: 1e300 is out of range"}},
      {"severity INT_MIN", third(std::to_string(INT_MIN)), {}, 2, {"third[0].severity: -2147483648 is out of range"}},
      {"fail level 1e20", SmallRun(",\n  \"fail_level\": 1e20"), {}, 2, {"fail_level: 1e20 is out of range"}},
      {"integer beyond 64 bits",
       SmallRun(",\n  \"third\": [{\"id\": \"a\", \"args\": [99999999999999999999]}]"),
       {},
       2,
       {"third[0].args[0]: 99999999999999999999 is out of range"}},
      {"unknown field", SmallRun(",\n  \"fwd\": []"), {}, 2, {"unknown field 'fwd' (did you mean 'fwds'?)"}},
      // Every report runs through a long chain and through a ladder of
      // millions of paths, in well under a second each: the walks keep their
      // own stacks and visit each definition once, and the drawn trees are
      // bounded.
      {"30,000 dependent definitions", Layered(30000, 1), every_report, 0, {}, nullptr, all},
      {"2^40 dependency paths",
       Layered(40, 2),
       every_report,
       0,
       {},
       nullptr,
       all,
       {},
       -1,
       nullptr,
       {{kResults, 0660}, {"qorv_results.prom", 0644}}},
      // Message catalogues.
      {"catalogue missing",
       SmallRun(),
       {},
       2,
       {"c.xml", "No such file"},
       [](const TempDir& d) { std::filesystem::remove(d / "c.xml"); }},
      {"catalogue malformed",
       SmallRun(),
       {},
       2,
       {"c.xml:1:"},
       catalog(R"(<message-catalog language="en"><message id="qorv-low">Memory low</mesage></message-catalog>)")},
      {"catalogue truncated", SmallRun(), {}, 2, {"c.xml:1:"}, catalog(std::string(kCatalog).substr(0, 60))},
      {"catalogue binary", SmallRun(), {}, 2, {"c.xml"}, catalog(std::string("\0\x01\xff\xfe<\x80", 6))},
      {"catalogue empty", SmallRun(), {}, 2, {"c.xml"}, catalog("")},
      // Issues and nodes.
      {"empty issue lists",
       R"({"nodes": [{"name": "n1"}], "diagnoses": [], "observations": [], "third": [], "issues": []})",
       {},
       0,
       {},
       nullptr,
       all},
      {"odd node names", SmallRun("", {"n[1]", "a,b", "node 7", "n\u0153ud-\u00e91", "n2"}), {}, 0, {}, nullptr, all},
      {"one issue on 100,000 nodes", SmallRun("", many_nodes), {"-e", "category_log"}, 0, {}, nullptr, {kResults}},
      {"sign map missing a diagnosis",
       SmallRun(",\n  \"diagnoses\": [{\"id\": \"qorv-unmapped\", \"severity\": 80, \"nodes\": [\"n1\"]}]"),
       {},
       1,
       {"qorv-unmapped"},
       nullptr,
       all},
      // Result files.
      {"output option expanded once",
       SmallRun(),
       {"--output", "$QORV_TEST_OUT/run.log"},
       0,
       {},
       out_dir,
       {"out/run.log", "out/run.json", "out/" + std::string(kWarnings)},
       {"/out/run.log, /"}},
      {"output option with an unset variable",
       SmallRun(),
       {"--output", "a/$QORV_TEST_UNSET/w.log"},
       2,
       {"qorv-postprocess: --output: $QORV_TEST_UNSET is not set\n"}},
      {"output file with an unset variable",
       SmallRun(",\n  \"output_file\": \"${QORV_TEST_UNSET}.log\""),
       {},
       2,
       {"qorv-postprocess: run.json: output_file: $QORV_TEST_UNSET is not set\n"}},
      {"command substitution in the output option",
       SmallRun(),
       {"-o", "out/$(touch pwned)`touch pwned`.log"},
       2,
       {"--output: 'out/$(touch pwned)`touch pwned`.log': command substitution"}},
      {"output directory cannot be created",
       SmallRun(),
       {"--output", "blocker/sub/run.log"},
       0,
       {"blocker/sub", "run.log"},
       [](const TempDir& d) { d.Write("blocker", "a file\n"); },
       {"run.log", "run.json", kWarnings}},
      {"a link at the output file is replaced, not written through",
       SmallRun(),
       {"--output", "out/run.log"},
       0,
       {},
       [](const TempDir& d) {
         std::filesystem::create_directory(d / "out");
         std::filesystem::create_symlink("/dev/full", d / "out/run.log");
       },
       {"out/run.log"}},
      // A directory holds the results under their default names.
      {"output names a directory",
       SmallRun(),
       {"--output", "outdir"},
       0,
       {},
       [](const TempDir& d) { std::filesystem::create_directory(d / "outdir"); },
       {"outdir/" + std::string(kResults), "outdir/qorv_results.json", "outdir/" + std::string(kWarnings)}},
      {"output ends in a slash",
       SmallRun(),
       {"--output", "new/"},
       0,
       {},
       nullptr,
       {"new/" + std::string(kResults), "new/qorv_results.json"}},
      {"shell metacharacters in the output file",
       SmallRun(),
       {"--output", odd_output},
       0,
       {},
       nullptr,
       {odd_output, "out/;touch pwned&|<x> *.json", "out/" + std::string(kWarnings)}},
      // The metrics file: qorv_metrics runs besides the run's extensions and
      // writes there alone, readable by node_exporter's user.
      {"metrics file",
       SmallRun(),
       {"-e", "category_log", "--metrics-file", "tf/q.prom", "-o", "out/run.log"},
       0,
       {},
       nullptr,
       {"tf/q.prom", "out/run.log"},
       {"Prometheus metrics: tf/q.prom\n"},
       -1,
       nullptr,
       {{"tf/q.prom", 0644}, {"out/run.prom", 0}, {"tf/run.log", 0}}},
      {"metrics file of a named qorv_metrics",
       SmallRun(),
       {"-e", "qorv_metrics", "--metrics-file", "q.prom"},
       0,
       {},
       nullptr,
       {"q.prom"},
       {},
       -1,
       nullptr,
       {{"q.prom", 0644}, {"qorv_results.prom", 0}}},
      {"metrics mode",
       SmallRun(),
       {"--metrics-file", "q.prom", "--metrics-mode", "0640"},
       0,
       {},
       nullptr,
       {"q.prom"},
       {},
       -1,
       nullptr,
       {{"q.prom", 0640}}},
      {"metrics file in the run file, expanded",
       SmallRun(",\n  \"metrics_file\": \"$QORV_TEST_OUT/m.prom\""),
       {},
       0,
       {},
       out_dir,
       {"out/m.prom", kResults},
       {},
       -1,
       nullptr,
       {{"out/m.prom", 0644}}},
      {"metrics file option over the run file's",
       SmallRun(",\n  \"metrics_file\": \"m.txt\""),
       {"--metrics-file", "q.prom"},
       0,
       {},
       nullptr,
       {"q.prom"}},
      {"metrics file not .prom",
       SmallRun(),
       {"--metrics-file", "q.txt"},
       2,
       {"qorv-postprocess: --metrics-file: 'q.txt' does not end in .prom: node_exporter's textfile collector"}},
      {"metrics file named only .prom",
       SmallRun(",\n  \"metrics_file\": \"tf/.prom\""),
       {},
       2,
       {"qorv-postprocess: run.json: metrics_file: 'tf/.prom' does not end in .prom"}},
      {"metrics file that is the results log",
       SmallRun(),
       {"-e", "category_log", "-o", "q.prom", "--metrics-file", "q.prom"},
       1,
       {"q.prom holds another result of this run already"}},
      {"metrics mode with group write",
       SmallRun(),
       {"--metrics-file", "q.prom", "--metrics-mode", "0664"},
       2,
       {"--metrics-mode: '0664' lets others than the owner write the metrics"}},
      {"metrics mode with execution",
       SmallRun(),
       {"--metrics-file", "q.prom", "--metrics-mode", "0744"},
       2,
       {"--metrics-mode: '0744' sets more than read and write bits (at most 0644)"}},
      {"metrics mode not octal",
       SmallRun(),
       {"--metrics-file", "q.prom", "--metrics-mode", "0648"},
       2,
       {"--metrics-mode: '0648' is not an octal mode"}},
      {"metrics mode without a metrics file",
       SmallRun(),
       {"--metrics-mode", "0600"},
       2,
       {"--metrics-mode needs a metrics file"}},
      // Extensions.
      {"extension directory missing",
       SmallRun(),
       {"--extensions", "nodir"},
       2,
       {"qorv-postprocess: --extensions: nodir: no such directory\n"}},
      {"default extensions not installed are skipped",
       SmallRun(),
       {"--extensions", "ext"},
       0,
       {},
       [](const TempDir& d) {
         std::filesystem::create_directory(d / "ext");
         std::filesystem::create_symlink(QORV_EXTENSION_DIR "/libcategory_log.so", d / "ext/libcategory_log.so");
       },
       {kResults}},
      {"one of the extensions missing, named with every directory searched",
       SmallRun(),
       {"-e", "category_log", "-e", "nosuch"},
       1,
       {"--extension: no extension 'nosuch' in " + std::string(QORV_EXTENSION_DIR) +
        ", ./postprocessor/ostra64/extensions/ (neither libnosuch.so nor nosuch.so)"}},
      {"extensions from two directories, searched in order",
       SmallRun(),
       {"--extensions", plugins, "-e", "facts_reader", "-e", "category_log"},
       0,
       {},
       nullptr,
       {kResults},
       {"facts_reader: "}},
      {"extension not a library",
       SmallRun(),
       {"--extensions", "ext", "-e", "bogus"},
       1,
       {"Error opening extension library ext/libbogus.so: '"},
       [](const TempDir& d) { d.Write("ext/libbogus.so", "not a library\n"); }},
      {"extension without create",
       SmallRun(),
       {"--extensions", plugins, "-e", "no_create"},
       1,
       {"Error creating constructor for: " + plugins + "/libno_create.so"}},
      {"extension create returns null",
       SmallRun(),
       {"--extensions", plugins, "-e", "null_create"},
       1,
       {"Error loading constructor for: " + plugins + "/libnull_create.so"}},
      {"extension run returns 1",
       SmallRun(),
       {"--extensions", plugins, "-e", "failing_run"},
       1,
       {"Error running postprocessor extension: " + plugins + "/libfailing_run.so"}},
      {"extension run throws",
       SmallRun(),
       {"--extensions", plugins, "-e", "throwing_run"},
       1,
       {"Error running postprocessor extension: " + plugins + "/libthrowing_run.so"}},
      // Suppression files are checked whole before anything runs.
      {"suppression file missing",
       SmallRun(),
       {"--suppressions", "none.xml"},
       2,
       {"qorv-postprocess: none.xml: cannot open the suppression file: No such file"}},
      {"suppression file not XML",
       SmallRun(),
       rules,
       2,
       {"qorv-postprocess: s.xml:4: Opening and ending tag mismatch"},
       file("s.xml", "<qorv>\n  <suppressions>\n    <suppress id=\"a\">\n  </suppressions>\n</qorv>\n")},
      {"suppression with an unknown attribute",
       SmallRun(),
       rules,
       2,
       {"s.xml:3: unknown attribute 'node' of <suppress> (expected id or nodes)"},
       rule("id=\"a\" node=\"n1\"")},
      {"suppression without id", SmallRun(), rules, 2, {"s.xml:3: <suppress> has no id"}, rule("nodes=\"n1\"")},
      {"suppression of a sub-id", SmallRun(), rules, 2, {"s.xml:3: id 'a#b' carries a sub-id"}, rule("id=\"a#b\"")},
      {"suppression with a backward range",
       SmallRun(),
       rules,
       2,
       {"s.xml:3: nodes: 'n[3-1]': '3-1' runs backwards"},
       rule("id=\"a\" nodes=\"n1,n[3-1]\"")},
      {"suppression with padded ends unlike",
       SmallRun(),
       rules,
       2,
       {"s.xml:3: nodes: 'n[08-100]': '08-100': the ends"},
       rule("id=\"a\" nodes=\"n[08-100]\"")},
      {"suppression of too many nodes",
       SmallRun(),
       rules,
       2,
       {"s.xml:3: nodes: the rules name more than 1000000 nodes"},
       rule("id=\"a\" nodes=\"n1,n[0-999999]\"")},
      {"suppression file with a DOCTYPE",
       SmallRun(),
       rules,
       2,
       {"s.xml:1: a DOCTYPE is not accepted"},
       file("s.xml", "<!DOCTYPE qorv [<!ENTITY x \"y\">]>\n<qorv/>\n")},
      {"installation's suppression file malformed",
       SmallRun(),
       {},
       2,
       {"etc/qorv.xml:2: unknown element <suppresion> in <qorv> (expected <suppressions>)"},
       file("etc/qorv.xml", "<qorv>\n  <suppresion/>\n</qorv>\n")},
      // The console's width comes from the terminal on standard input: 0
      // and widths above 512 mean 80.
      {"terminal width 0", SmallRun(), {"-e", "category_summary"}, 0, {}, nullptr, {}, {"\nNodes tested: n1\n"}, 0},
      {"terminal width 1", SmallRun(), {"-e", "category_summary"}, 0, {}, nullptr, {}, {"\nNodes\ntested:\nn1\n"}, 1},
      {"terminal width 10,000",
       SmallRun(),
       {"-e", "category_summary"},
       0,
       {},
       nullptr,
       {},
       {"\nNodes tested: n1\n"},
       10000},
      // Options.
      {"help", SmallRun(), {"--help"}, 0, {}, nullptr, {}, {"Usage: qorv-postprocess"}},
      {"version",
       SmallRun(),
       {"--version"},
       0,
       {},
       nullptr,
       {},
       {std::string("qorv-postprocess (Quorvane) ") + qorv::postprocessor::kProductVersion + "\n"}},
      // The option wins over a malformed SOURCE_DATE_EPOCH, which is then not read.
      {"process only",
       SmallRun(),
       {"--process-only", "--timestamp", "1700000000"},
       0,
       {},
       nullptr,
       {},
       {},
       -1,
       "yesterday"},
      {"SOURCE_DATE_EPOCH malformed",
       SmallRun(),
       {"--process-only"},
       2,
       {"SOURCE_DATE_EPOCH: '0' is not a time stamp"},
       nullptr,
       {},
       {},
       -1,
       "0"},
      {"fail level option out of range",
       SmallRun(),
       {"--fail-level", "101"},
       2,
       {"--fail-level: '101' is not a severity from 0 to 100", "Try 'qorv-postprocess --help'"}},
      {"time stamp option malformed", SmallRun(), {"--timestamp=soon"}, 2, {"--timestamp: 'soon' is not a time stamp"}},
      {"unknown option", SmallRun(), {"--colour"}, 2, {"unknown option '--colour'", "Try 'qorv-postprocess --help'"}},
      {"two run files", SmallRun(), {"other.json"}, 2, {"more than one run file given"}},
  };
  ::unsetenv("QORV_TEST_UNSET");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Write("c.xml", kCatalog);
    dir.Write(kResults, "results of the last run\n");
    dir.Write("run.json", c.run);
    if (c.setup) c.setup(dir);
    const auto before = Snapshot(dir);
    // The installation is the run's directory, whose etc/qorv.xml the case writes, if any.
    std::vector<std::string> args = {"run.json", "--extensions", QORV_EXTENSION_DIR, "--install-dir", "."};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result result = RunProgram(args, dir.path().string(), c.epoch, c.columns);

    EXPECT_EQ(result.status, c.status) << result.err;
    for (const auto& text : c.err) EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
    for (const auto& text : c.out) EXPECT_NE(result.out.find(text), std::string::npos) << result.out;
    if (c.status == 2) {
      // One line (plus the hint for usage errors).
      EXPECT_LE(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
    }
    const bool process_only = std::find(c.args.begin(), c.args.end(), "--process-only") != c.args.end();
    if (c.status == 2 || process_only) {
      EXPECT_EQ(Snapshot(dir), before);
    }
    for (const auto& file : c.results) EXPECT_TRUE(Complete(dir / file)) << file << ":\n" << ReadFile(dir / file);
    for (const auto& [file, mode] : c.modes) {
      struct stat status {};
      EXPECT_EQ(::stat((dir / file).c_str(), &status) == 0 ? status.st_mode & 07777 : 0u, mode) << file;
    }
    if (c.columns >= 0) {  // the driver's closing line is not wrapped
      qorv::testing::ExpectFits(result.out.substr(0, result.out.rfind("See the following files")),
                                c.columns > 0 && c.columns <= 512 ? c.columns : 80);
    }
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned")) << "a command in a file name was run";
  }
}

// The JSON results' overall verdict, "PASS" or "FAIL"; empty without results.
std::string Overall(const TempDir& dir) {
  const std::string json = ReadFile(dir / kJson);
  const auto at = json.find("\"overall\": \"");
  return at == std::string::npos ? "" : json.substr(at + 12, 4);
}

// The suppressed records the JSON results count; -1 without results.
int Suppressed(const TempDir& dir) {
  const std::string json = ReadFile(dir / kJson);
  const auto at = json.find("\"suppressed\": ", json.find("\"counts\": {\"contributing_to_fail\""));
  return at == std::string::npos ? -1 : std::atoi(json.c_str() + at + 14);
}

// Without `passed` the verdict is the run's own; a stated one is kept, with
// a warning when the run contradicts it. --fail-exit turns a FAIL verdict
// into status 3, unless the run failed otherwise.
TEST(QorvPostprocess, VerdictAndFailExit) {
  struct VerdictCase {
    const char* name;
    std::string run;
    std::vector<std::string> args;
    int status;
    std::string overall;  // empty: no JSON results expected
    std::string warning;  // the one line on standard error, when not empty
  };
  const std::string kept = "the verdict PASS stated for this run is kept";
  const std::string clean = R"({"nodes": [{"name": "n1"}], "fwds": [{"name": "f"}]})";
  const std::vector<VerdictCase> cases = {
      {"derived FAIL", SmallRun(), {}, 0, "FAIL", ""},
      {"derived FAIL, --fail-exit", SmallRun(), {"--fail-exit"}, 3, "FAIL", ""},
      {"derived PASS, --fail-exit", clean, {"--fail-exit"}, 0, "PASS", ""},
      {"stated PASS contradicted", SmallRun(",\n  \"passed\": true"), {"--fail-exit"}, 0, "PASS", kept},
      {"stated FAIL contradicted",
       clean.substr(0, clean.size() - 1) + R"(, "passed": false})",
       {"--fail-exit"},
       3,
       "FAIL",
       "the verdict FAIL stated for this run is kept"},
      {"a failing report wins over FAIL",
       SmallRun(),
       {"--fail-exit", "--extensions", QORV_TEST_PLUGIN_DIR, "-e", "failing_run"},
       1,
       "",
       "failing_run"},
      {"process only", SmallRun(), {"--fail-exit", "--process-only"}, 0, "", ""},
      {"no nodes tested",
       R"({"nodes": [], "fwds": [{"name": "f"}]})",
       {"--fail-exit"},
       0,
       "PASS",
       "qorv-postprocess: warning: run.json: the run tested no nodes; its verdict covers nothing\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Write("c.xml", kCatalog);
    dir.Write("run.json", c.run);
    std::vector<std::string> args = {"run.json", "--extensions", QORV_EXTENSION_DIR, "--install-dir", "."};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result result = RunProgram(args, dir.path().string());
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(Overall(dir), c.overall);
    // One line at most, but for a failing report, which also says the results stayed.
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), c.warning.empty() ? 0
                                                                      : c.status == 1   ? 2
                                                                                        : 1)
        << result.err;
    EXPECT_NE(result.err.find(c.warning), std::string::npos) << result.err;
  }
}

// Rules of the installation's etc/qorv.xml and of --suppressions files mark
// the records they match before the reports count them; a rule with nodes
// takes only records all of whose nodes it names.
TEST(QorvPostprocess, SuppressionsMarkTheMatchingRecords) {
  const std::string records = R"([
    {"id": "qorv-low#sda", "severity": 80, "nodes": ["n01"], "args": ["n01"]},
    {"id": "qorv-low", "severity": 80, "nodes": ["n02"], "args": ["n02"]},
    {"id": "qorv-low", "severity": 80, "nodes": ["n01", "n03"], "args": ["n01"]}])";
  const std::string run = R"({"nodes": [{"name": "n01"}, {"name": "n02"}, {"name": "n03"}],
  "fwds": [{"name": "basic", "signs": ["mem"], "catalogs": [{"directory": "./", "files": ["c.xml"]}]}],
  "observation_ids": {"qorv-low": ["mem"]}, "observations": )" +
                          records + ", \"issues\": " + records + "}\n";
  const auto rules = [](const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<qorv>\n  <!-- rules -->\n  <suppressions>\n" + body +
           "  </suppressions>\n</qorv>\n";
  };
  struct SuppressionCase {
    const char* name;
    std::string installed;  // etc/qorv.xml, when not empty
    std::string named;      // s.xml, given with --suppressions, when not empty
    int suppressed;         // records the JSON results count
    std::string warning;
  };
  const std::vector<SuppressionCase> cases = {
      {"none", "", "", 0, ""},
      {"installed, by id", rules("    <suppress id=\"qorv-low\"/>\n"), "", 3, ""},
      {"named, by id and nodes", rules(""), rules("    <suppress id=\"qorv-low\" nodes=\"n[01-02]\"/>\n"), 2, ""},
      {"unmatched rules", rules("    <suppress id=\"qorv-high\"/>\n"),
       rules("    <suppress id=\"qorv-low\" nodes=\"n03,n[1-3]\"/>\n"), 0,
       "warning: ./etc/qorv.xml:5: the suppression of 'qorv-high' matches no issue\n"
       "qorv-postprocess: warning: s.xml:5: the suppression of 'qorv-low' matches no issue\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.Write("c.xml", kCatalog);
    dir.Write("run.json", run);
    std::vector<std::string> args = {"run.json", "--extensions", QORV_EXTENSION_DIR, "--install-dir", "."};
    if (!c.installed.empty()) dir.Write("etc/qorv.xml", c.installed);
    if (!c.named.empty()) {
      dir.Write("s.xml", c.named);
      args.insert(args.end(), {"--suppressions", "s.xml"});
    }
    const Result result = RunProgram(args, dir.path().string());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Suppressed(dir), c.suppressed);
    EXPECT_EQ(result.err.empty(), c.warning.empty()) << result.err;
    EXPECT_NE(result.err.find(c.warning), std::string::npos) << result.err;
  }
}

// ESC, an OSC title sequence, a newline and a C1 CSI in a node name and in
// the command line reach the console and the text result files only as
// visible escapes: no report line is split and the terminal is not driven.
TEST(QorvPostprocess, ControlCharactersOfTheRunAreShownEscaped) {
  const std::string name = R"(x\u001b[2J\u001b]0;title\u0007\n\u009b1m)";  // as JSON
  const std::string shown = R"(x\x1b[2J\x1b]0;title\x07\x0a\xc2\x9b1m)";
  TempDir dir;
  dir.Write("c.xml", kCatalog);
  dir.Write("run.json", SmallRun(",\n  \"command_line\": \"qorv --nodes " + name + "\"", {"n1", name}));
  const Result result = RunProgram({"run.json", "--extensions", QORV_EXTENSION_DIR, "--install-dir", ".", "-e",
                                    "category_summary", "-e", "category_log", "-e", "qorv_execution_warnings"},
                                   dir.path().string());
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string results = ReadFile(dir / kResults);
  for (const std::string& text : {result.out, results, ReadFile(dir / kWarnings)}) {
    EXPECT_EQ(qorv::str::escape_controls(text, true), text) << text;
  }
  for (const std::string& text : {result.out, results}) {
    EXPECT_NE(text.find("\n  Command-line: qorv --nodes " + shown + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ested: n1," + shown + "\n"), std::string::npos) << text;
  }
}

TEST(QorvPostprocess, NoRunFileGiven) {
  TempDir dir;
  const Result none = RunProgram({}, dir.path().string());
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("no run file given"), std::string::npos);
}

}  // namespace
