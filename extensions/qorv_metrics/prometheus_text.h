// Lines of the Prometheus text exposition format (version 0.0.4), as
// node_exporter's textfile collector reads them.
//
// Label values may hold any bytes: backslash, double quote and newline are
// escaped and each ill-formed UTF-8 sequence becomes U+FFFD, so a node or
// definition name can never break the file. Stateless.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qorv::metrics_report {

using Labels = std::vector<std::pair<std::string, std::string>>;

// Appends "# HELP <name> <help>" and "# TYPE <name> gauge". The help text
// is written as given: callers pass fixed text without '\\' or newlines.
void AppendGaugeFamily(std::string& out, std::string_view name, std::string_view help);

// Appends one sample line: the name, the labels in the given order as
// {a="x",b="y"} (nothing when there are none), a blank and the value.
// Label names must be valid Prometheus label names.
void AppendSample(std::string& out, std::string_view name, const Labels& labels, std::int64_t value);

}  // namespace qorv::metrics_report
