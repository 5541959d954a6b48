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

#include "postprocessor/host/fwd.h"
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

using Setup = std::function<void(const TempDir&)>;
using Strings = std::vector<std::string>;

struct Case {
  const char* name;
  std::string run;  // written as run.json
  Strings args;     // after run.json and the extension directory
  int status;
  Strings err;                                 // each must appear on standard error
  Setup setup = nullptr;                       // more files, before the run
  Strings results = {};                        // result files that must be there, complete
  Strings out = {};                            // each must appear on standard output
  int columns = -1;                            // a terminal this wide on standard input
  const char* epoch = nullptr;                 // SOURCE_DATE_EPOCH
  std::map<std::string, unsigned> modes = {};  // files' permission bits; 0: the file is not there
  std::map<std::string, Strings> texts = {};   // result files, each with what must appear in it
  bool escaped = false;                        // standard output and texts' files show no control character

  // A copy with field set to value.
  template <typename T>
  Case With(T Case::*field, T value) const {
    Case c = *this;
    c.*field = std::move(value);
    return c;
  }
  Case Printing(Strings text, int width = -1) const { return With(&Case::out, text).With(&Case::columns, width); }
  Case Modes(std::map<std::string, unsigned> bits) const { return With(&Case::modes, std::move(bits)); }
  Case Saying(Strings text) const { return With(&Case::err, std::move(text)); }
  Case Holding(std::map<std::string, Strings> files, bool escapes = false) const {
    return With(&Case::texts, std::move(files)).With(&Case::escaped, escapes);
  }
  Case Epoch(const char* value) const { return With(&Case::epoch, value); }
};

// A run of `run` with args that exits 0 and leaves every one of results complete.
Case Runs(const char* name, std::string run, Strings args, Strings results = {}, Setup setup = nullptr) {
  return {name, std::move(run), std::move(args), 0, {}, std::move(setup), std::move(results)};
}
// A run of SmallRun() with args that exits with status and says each of err.
Case Stops(const char* name, Strings args, int status, Strings err, Setup setup = nullptr) {
  return {name, SmallRun(), std::move(args), status, std::move(err), std::move(setup)};
}
// A run of `run` with args that exits with the FAIL status of --fail-exit.
Case FailsRun(const char* name, std::string run, Strings args) {
  return {name, std::move(run), std::move(args), 3, {}};
}
// A run file the program refuses, saying each of err.
Case Refused(const char* name, std::string run, Strings err) { return {name, std::move(run), {}, 2, std::move(err)}; }

// Bad input of every kind, the options, the verdict and the suppressions,
// through the program: each gives its exit status and a message naming the
// file and the problem, never a crash; a run that succeeds says nothing on
// standard error unless a case expects it. A refused run (status 2) or one
// that only processes leaves every file as it was; any result file a run
// leaves is complete.
TEST(QorvPostprocess, EachRunGivesItsStatusMessagesAndFiles) {
  const auto file = [](std::string name, std::string text) { return [=](const TempDir& d) { d.Write(name, text); }; };
  const auto remove = [](std::string name) { return [=](const TempDir& d) { std::filesystem::remove(d / name); }; };
  const auto third = [](const std::string& severity) {
    return SmallRun(",\n  \"third\": [{\"id\": \"a\", \"severity\": " + severity + "}]");
  };
  const Strings all = {kResults, kJson, kWarnings};
  Strings every_report;
  for (const char* name : {"category_summary", "category_log", "qorv_execution_warnings", "qorv_json", "qorv_junit",
                           "qorv_metrics", "qorv_html"}) {
    every_report.insert(every_report.end(), {"-e", name});
  }
  Strings many_nodes;
  for (int i = 1; i <= 100000; ++i) many_nodes.push_back("n" + std::to_string(i));
  const std::string plugins = QORV_TEST_PLUGIN_DIR;
  const std::string odd_output = "out/;touch pwned&|<x> *.log";
  // The results go where the output name expands to, all of them.
  const auto out_dir = [](const TempDir& d) { ::setenv("QORV_TEST_OUT", (d / "out").c_str(), 1); };
  const auto rule = [&](const std::string& attributes) {
    return file("s.xml", "<qorv>\n  <suppressions>\n    <suppress " + attributes + "/>\n  </suppressions>\n</qorv>\n");
  };
  const Strings rules = {"--suppressions", "s.xml"};
  const Strings metrics = {"--metrics-file", "q.prom", "--metrics-mode"};
  const auto with = [](Strings list, const std::string& more) {
    list.push_back(more);
    return list;
  };
  const std::string catalogue = "<message-catalog language=\"en\"><message id=\"qorv-low\">";
  const std::string fail = "\"overall\": \"FAIL\"", pass = "\"overall\": \"PASS\"";
  const std::string clean = R"({"nodes": [{"name": "n1"}], "fwds": [{"name": "f"}]})";
  const std::string records = R"([
    {"id": "qorv-low#sda", "severity": 80, "nodes": ["n01"], "args": ["n01"]},
    {"id": "qorv-low", "severity": 80, "nodes": ["n02"], "args": ["n02"]},
    {"id": "qorv-low", "severity": 80, "nodes": ["n01", "n03"], "args": ["n01"]}])";
  const std::string suppressible = R"({"nodes": [{"name": "n01"}, {"name": "n02"}, {"name": "n03"}],
  "fwds": [{"name": "basic", "signs": ["mem"], "catalogs": [{"directory": "./", "files": ["c.xml"]}]}],
  "observation_ids": {"qorv-low": ["mem"]}, "observations": )" +
                                   records + ", \"issues\": " + records + "}\n";
  // A suppression file at path with one rule of these attributes, or none.
  const auto rules_in = [&](const std::string& path, const std::string& attributes) {
    return file(path, "<?xml version=\"1.0\"?>\n<qorv>\n  <!-- rules -->\n  <suppressions>\n" +
                          (attributes.empty() ? "" : "    <suppress " + attributes + "/>\n") +
                          "  </suppressions>\n</qorv>\n");
  };
  const std::string cut = "`- " + std::string(qorv::kTreeCutMark) + "\n";
  const std::string control = R"(x\u001b[2J\u001b]0;title\u0007\n\u009b1m)";  // as JSON
  const std::string shown = R"(x\x1b[2J\x1b]0;title\x07\x0a\xc2\x9b1m)";

  const std::vector<Case> cases = {
      Runs("pass", SmallRun(), {"-e", "category_log"}, {kResults}),
      // The run file.
      Stops("run file missing", {}, 2, {"qorv-postprocess: run.json: cannot open the run file: No such file"},
            remove("run.json")),
      Refused("malformed json", "{\n  \"nodes\": [\n    {\"name\": \"n1\"},,\n  ]\n}\n",
              {"run.json:3:20: expected a value"}),
      Refused("file ends early", "{\"nodes\": [", {"run.json:1:12: the file ends early"}),
      Refused("empty run file", "", {"run.json:"}),
      Refused("binary run file",
              std::string("\x7f"
                          "ELF\x02\x01\x00\xff\xfe",
                          9),
              {"run.json:"}),
      Refused("wrong type", SmallRun(",\n  \"diagnoses\": [{\"id\": \"a\"}, {\"id\": \"b\", \"severity\": \"high\"}]"),
              {"run.json:7:54: diagnoses[1].severity: expected a number, found a string"}),
      Refused("severity -1", third("-1"), {"third[0].severity: -1 is out of range (a whole number from 0 to 100)"}),
      Refused("severity 101", third("101"), {"third[0].severity: 101 is out of range"}),
      Refused("severity 1e300", third("1e300"), {"third[0].severity: 1e300 is out of range"}),
      Refused("severity INT_MIN", third(std::to_string(INT_MIN)), {"third[0].severity: -2147483648 is out of range"}),
      Refused("fail level 1e20", SmallRun(",\n  \"fail_level\": 1e20"), {"fail_level: 1e20 is out of range"}),
      Refused("integer beyond 64 bits", SmallRun(",\n  \"third\": [{\"id\": \"a\", \"args\": [99999999999999999999]}]"),
              {"third[0].args[0]: 99999999999999999999 is out of range"}),
      Refused("unknown field", SmallRun(",\n  \"fwd\": []"), {"unknown field 'fwd' (did you mean 'fwds'?)"}),
      // Every report runs through a long chain and through a ladder of
      // millions of paths, in well under a second each: the walks keep their
      // own stacks and visit each definition once, and the drawn trees are
      // bounded, each closed by a line for what it leaves out.
      Runs("30,000 dependent definitions", Layered(30000, 1), every_report, all).Holding({{kResults, {cut}}}),
      Runs("2^40 dependency paths", Layered(40, 2), every_report, all)
          .Modes({{kResults, 0660}, {"qorv_results.prom", 0644}})
          .Holding({{kResults, {"\n" + cut}}}),
      // Message catalogues.
      Stops("catalogue missing", {}, 2, {"c.xml", "No such file"}, remove("c.xml")),
      Stops("catalogue malformed", {}, 2, {"c.xml:1:"},
            file("c.xml", catalogue + "Memory low</mesage></message-catalog>")),
      Stops("catalogue truncated", {}, 2, {"c.xml:1:"}, file("c.xml", std::string(kCatalog).substr(0, 60))),
      Stops("catalogue binary", {}, 2, {"c.xml"}, file("c.xml", std::string("\0\x01\xff\xfe<\x80", 6))),
      Stops("catalogue empty", {}, 2, {"c.xml"}, file("c.xml", "")),
      // Issues and nodes.
      Runs("empty issue lists",
           R"({"nodes": [{"name": "n1"}], "diagnoses": [], "observations": [], "third": [], "issues": []})", {}, all),
      Runs("odd node names", SmallRun("", {"n[1]", "a,b", "node 7", "n\u0153ud-\u00e91", "n2"}), {}, all),
      Runs("one issue on 100,000 nodes", SmallRun("", many_nodes), {"-e", "category_log"}, {kResults}),
      {"sign map missing a diagnosis",
       SmallRun(",\n  \"diagnoses\": [{\"id\": \"qorv-unmapped\", \"severity\": 80, \"nodes\": [\"n1\"]}]"),
       {},
       1,
       {"qorv-unmapped"},
       nullptr,
       all},
      // Result files.
      Runs("output option expanded once", SmallRun(), {"--output", "$QORV_TEST_OUT/run.log"},
           {"out/run.log", "out/run.json", "out/" + std::string(kWarnings)}, out_dir)
          .Printing({"/out/run.log, /"}),
      Stops("output option with an unset variable", {"--output", "a/$QORV_TEST_UNSET/w.log"}, 2,
            {"qorv-postprocess: --output: $QORV_TEST_UNSET is not set\n"}),
      Refused("output file with an unset variable", SmallRun(",\n  \"output_file\": \"${QORV_TEST_UNSET}.log\""),
              {"qorv-postprocess: run.json: output_file: $QORV_TEST_UNSET is not set\n"}),
      Stops("command substitution in the output option", {"-o", "out/$(touch pwned)`touch pwned`.log"}, 2,
            {"--output: 'out/$(touch pwned)`touch pwned`.log': command substitution"}),
      {"output directory cannot be created",
       SmallRun(),
       {"--output", "blocker/sub/run.log"},
       0,
       {"blocker/sub", "run.log"},
       file("blocker", "a file\n"),
       {"run.log", "run.json", kWarnings}},
      Runs("a link at the output file is replaced, not written through", SmallRun(), {"--output", "out/run.log"},
           {"out/run.log"},
           [](const TempDir& d) {
             std::filesystem::create_directory(d / "out");
             std::filesystem::create_symlink("/dev/full", d / "out/run.log");
           }),
      // A directory holds the results under their default names.
      Runs("output names a directory", SmallRun(), {"--output", "outdir"},
           {"outdir/" + std::string(kResults), "outdir/qorv_results.json", "outdir/" + std::string(kWarnings)},
           [](const TempDir& d) { std::filesystem::create_directory(d / "outdir"); }),
      Runs("output ends in a slash", SmallRun(), {"--output", "new/"},
           {"new/" + std::string(kResults), "new/qorv_results.json"}),
      Runs("shell metacharacters in the output file", SmallRun(), {"--output", odd_output},
           {odd_output, "out/;touch pwned&|<x> *.json", "out/" + std::string(kWarnings)}),
      // The metrics file: qorv_metrics runs besides the run's extensions and
      // writes there alone, readable by node_exporter's user.
      Runs("metrics file", SmallRun(), {"-e", "category_log", "--metrics-file", "tf/q.prom", "-o", "out/run.log"},
           {"tf/q.prom", "out/run.log"})
          .Printing({"Prometheus metrics: tf/q.prom\n"})
          .Modes({{"tf/q.prom", 0644}, {"out/run.prom", 0}, {"tf/run.log", 0}}),
      Runs("metrics file of a named qorv_metrics", SmallRun(), {"-e", "qorv_metrics", "--metrics-file", "q.prom"},
           {"q.prom"})
          .Modes({{"q.prom", 0644}, {"qorv_results.prom", 0}}),
      Runs("metrics mode", SmallRun(), with(metrics, "0640"), {"q.prom"}).Modes({{"q.prom", 0640}}),
      Runs("metrics file in the run file, expanded", SmallRun(",\n  \"metrics_file\": \"$QORV_TEST_OUT/m.prom\""), {},
           {"out/m.prom", kResults}, out_dir)
          .Modes({{"out/m.prom", 0644}}),
      Runs("metrics file option over the run file's", SmallRun(",\n  \"metrics_file\": \"m.txt\""),
           {"--metrics-file", "q.prom"}, {"q.prom"}),
      Stops("metrics file not .prom", {"--metrics-file", "q.txt"}, 2,
            {"qorv-postprocess: --metrics-file: 'q.txt' does not end in .prom: node_exporter's textfile collector"}),
      Refused("metrics file named only .prom", SmallRun(",\n  \"metrics_file\": \"tf/.prom\""),
              {"qorv-postprocess: run.json: metrics_file: 'tf/.prom' does not end in .prom"}),
      Stops("metrics file that is the results log", {"-e", "category_log", "-o", "q.prom", "--metrics-file", "q.prom"},
            1, {"q.prom holds another result of this run already"}),
      Stops("metrics mode with group write", with(metrics, "0664"), 2,
            {"--metrics-mode: '0664' lets others than the owner write the metrics"}),
      Stops("metrics mode with execution", with(metrics, "0744"), 2,
            {"--metrics-mode: '0744' sets more than read and write bits (at most 0644)"}),
      Stops("metrics mode not octal", with(metrics, "0648"), 2, {"--metrics-mode: '0648' is not an octal mode"}),
      Stops("metrics mode without a metrics file", {"--metrics-mode", "0600"}, 2,
            {"--metrics-mode needs a metrics file"}),
      // Extensions; how the driver reports broken ones shows in its own test.
      Stops("extension directory missing", {"--extensions", "nodir"}, 2,
            {"qorv-postprocess: --extensions: nodir: no such directory\n"}),
      Runs("default extensions not installed are skipped", SmallRun(), {"--extensions", "ext"}, {kResults},
           [](const TempDir& d) {
             std::filesystem::create_directory(d / "ext");
             std::filesystem::create_symlink(QORV_EXTENSION_DIR "/libcategory_log.so", d / "ext/libcategory_log.so");
           }),
      Stops("one of the extensions missing, named with every directory searched",
            {"-e", "category_log", "-e", "nosuch"}, 1,
            {"--extension: no extension 'nosuch' in " + std::string(QORV_EXTENSION_DIR) +
             ", ./postprocessor/ostra64/extensions/ (neither libnosuch.so nor nosuch.so)"}),
      Runs("extensions from two directories, searched in order", SmallRun(),
           {"--extensions", plugins, "-e", "facts_reader", "-e", "category_log"}, {kResults})
          .Printing({"facts_reader: "}),
      Stops("extension not a library", {"--extensions", "ext", "-e", "bogus"}, 1,
            {"Error opening extension library ext/libbogus.so: '"}, file("ext/libbogus.so", "not a library\n")),
      // Suppression files are checked whole before anything runs.
      Stops("suppression file missing", {"--suppressions", "none.xml"}, 2,
            {"qorv-postprocess: none.xml: cannot open the suppression file: No such file"}),
      Stops("suppression file not XML", rules, 2, {"qorv-postprocess: s.xml:4: Opening and ending tag mismatch"},
            file("s.xml", "<qorv>\n  <suppressions>\n    <suppress id=\"a\">\n  </suppressions>\n</qorv>\n")),
      Stops("suppression with an unknown attribute", rules, 2,
            {"s.xml:3: unknown attribute 'node' of <suppress> (expected id or nodes)"}, rule("id=\"a\" node=\"n1\"")),
      Stops("suppression without id", rules, 2, {"s.xml:3: <suppress> has no id"}, rule("nodes=\"n1\"")),
      Stops("suppression of a sub-id", rules, 2, {"s.xml:3: id 'a#b' carries a sub-id"}, rule("id=\"a#b\"")),
      Stops("suppression with a backward range", rules, 2, {"s.xml:3: nodes: 'n[3-1]': '3-1' runs backwards"},
            rule("id=\"a\" nodes=\"n1,n[3-1]\"")),
      Stops("suppression with padded ends unlike", rules, 2, {"s.xml:3: nodes: 'n[08-100]': '08-100': the ends"},
            rule("id=\"a\" nodes=\"n[08-100]\"")),
      Stops("suppression of too many nodes", rules, 2, {"s.xml:3: nodes: the rules name more than 1000000 nodes"},
            rule("id=\"a\" nodes=\"n1,n[0-999999]\"")),
      Stops("suppression file with a DOCTYPE", rules, 2, {"s.xml:1: a DOCTYPE is not accepted"},
            file("s.xml", "<!DOCTYPE qorv [<!ENTITY x \"y\">]>\n<qorv/>\n")),
      Stops("installation's suppression file malformed", {}, 2,
            {"etc/qorv.xml:2: unknown element <suppresion> in <qorv> (expected <suppressions>)"},
            file("etc/qorv.xml", "<qorv>\n  <suppresion/>\n</qorv>\n")),
      // The console's width comes from the terminal on standard input: 0
      // and widths above 512 mean 80.
      Runs("terminal width 0", SmallRun(), {"-e", "category_summary"}).Printing({"\nNodes tested: n1\n"}, 0),
      Runs("terminal width 1", SmallRun(), {"-e", "category_summary"}).Printing({"\nNodes\ntested:\nn1\n"}, 1),
      Runs("terminal width 10,000", SmallRun(), {"-e", "category_summary"}).Printing({"\nNodes tested: n1\n"}, 10000),
      // Options.
      Runs("help", SmallRun(), {"--help"}).Printing({"Usage: qorv-postprocess"}),
      Runs("version", SmallRun(), {"--version"})
          .Printing({std::string("qorv-postprocess (Quorvane) ") + qorv::postprocessor::kProductVersion + "\n"}),
      // The option wins over a malformed SOURCE_DATE_EPOCH, which is then not read.
      Runs("process only", SmallRun(), {"--process-only", "--timestamp", "1700000000"}).Epoch("yesterday"),
      Stops("SOURCE_DATE_EPOCH malformed", {"--process-only"}, 2, {"SOURCE_DATE_EPOCH: '0' is not a time stamp"})
          .Epoch("0"),
      Stops("fail level option out of range", {"--fail-level", "101"}, 2,
            {"--fail-level: '101' is not a severity from 0 to 100", "Try 'qorv-postprocess --help'"}),
      Stops("time stamp option malformed", {"--timestamp=soon"}, 2, {"--timestamp: 'soon' is not a time stamp"}),
      Stops("unknown option", {"--colour"}, 2, {"unknown option '--colour'", "Try 'qorv-postprocess --help'"}),
      Stops("two run files", {"other.json"}, 2, {"more than one run file given"}),
      // The verdict: without `passed` the run's own; a stated one is kept,
      // with a warning when the run contradicts it. --fail-exit turns a FAIL
      // verdict into status 3, unless the run failed otherwise.
      Runs("derived FAIL", SmallRun(), {}, {kJson}).Holding({{kJson, {fail}}}),
      FailsRun("derived FAIL, --fail-exit", SmallRun(), {"--fail-exit"}).Holding({{kJson, {fail}}}),
      Runs("derived PASS, --fail-exit", clean, {"--fail-exit"}).Holding({{kJson, {pass}}}),
      Runs("stated PASS contradicted", SmallRun(",\n  \"passed\": true"), {"--fail-exit"})
          .Saying({"the verdict PASS stated for this run is kept"})
          .Holding({{kJson, {pass}}}),
      FailsRun("stated FAIL contradicted", clean.substr(0, clean.size() - 1) + R"(, "passed": false})", {"--fail-exit"})
          .Saying({"the verdict FAIL stated for this run is kept"})
          .Holding({{kJson, {fail}}}),
      Stops("a failing report wins over FAIL", {"--fail-exit", "--extensions", plugins, "-e", "failing_run"}, 1,
            {"failing_run"})
          .Modes({{kJson, 0}}),
      Runs("process only, --fail-exit", SmallRun(), {"--fail-exit", "--process-only"}),
      Runs("no nodes tested", R"({"nodes": [], "fwds": [{"name": "f"}]})", {"--fail-exit"})
          .Saying({"qorv-postprocess: warning: run.json: the run tested no nodes; its verdict covers nothing\n"})
          .Holding({{kJson, {pass}}}),
      // Rules of the installation's etc/qorv.xml and of --suppressions files
      // mark the records they match before the reports count them; a rule
      // with nodes takes only records all of whose nodes it names.
      Runs("no suppression rules", suppressible, {}).Holding({{kJson, {"\"suppressed\": 0,"}}}),
      Runs("installed rule, by id", suppressible, {}, {}, rules_in("etc/qorv.xml", "id=\"qorv-low\""))
          .Holding({{kJson, {"\"suppressed\": 3,"}}}),
      Runs("named rule, by id and nodes", suppressible, rules, {},
           [&](const TempDir& d) {
             rules_in("etc/qorv.xml", "")(d);
             rules_in("s.xml", "id=\"qorv-low\" nodes=\"n[01-01],n02\"")(d);
           })
          .Holding({{kJson, {"\"suppressed\": 2,"}}}),
      Runs("unmatched rules", suppressible, rules, {},
           [&](const TempDir& d) {
             rules_in("etc/qorv.xml", "id=\"qorv-high\"")(d);
             rules_in("s.xml", "id=\"qorv-low\" nodes=\"n03,n[1-3]\"")(d);
           })
          .Saying({"warning: ./etc/qorv.xml:5: the suppression of 'qorv-high' matches no issue\n"
                   "qorv-postprocess: warning: s.xml:5: the suppression of 'qorv-low' matches no issue\n"})
          .Holding({{kJson, {"\"suppressed\": 0,"}}}),
      // ESC, an OSC title sequence, a newline and a C1 CSI in a node name
      // and in the command line reach the console and the text result files
      // only as visible escapes: no report line is split and the terminal is
      // not driven.
      Runs("control characters of the run",
           SmallRun(",\n  \"command_line\": \"qorv --nodes " + control + "\"", {"n1", control}),
           {"-e", "category_summary", "-e", "category_log", "-e", "qorv_execution_warnings"}, {kResults, kWarnings})
          .Printing({"\n  Command-line: qorv --nodes " + shown + "\n", "ested: n1," + shown + "\n"})
          .Holding({{kResults, {"\n  Command-line: qorv --nodes " + shown + "\n", "ested: n1," + shown + "\n"}},
                    {kWarnings, {}}},
                   true),
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
    if (c.status != 1 && c.status != 2 && c.err.empty()) {
      EXPECT_EQ(result.err, "");
    }
    for (const auto& [name, parts] : c.texts) {
      const std::string text = ReadFile(dir / name);
      for (const auto& part : parts) EXPECT_NE(text.find(part), std::string::npos) << name << ":\n" << text;
      EXPECT_TRUE(!c.escaped || qorv::str::escape_controls(text, true) == text) << name << ":\n" << text;
    }
    EXPECT_TRUE(!c.escaped || qorv::str::escape_controls(result.out, true) == result.out) << result.out;
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

TEST(QorvPostprocess, NoRunFileGiven) {
  TempDir dir;
  const Result none = RunProgram({}, dir.path().string());
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("no run file given"), std::string::npos);
}

}  // namespace
