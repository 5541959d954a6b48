#include "extensions/qorv_metrics/prometheus_text.h"

#include "extensions/common/utf8.h"

namespace qorv::metrics_report {

namespace {

void AppendLabelValue(std::string& out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      i += extensions::AppendUtf8Sequence(out, text, i);
      continue;
    }
    if (c == '\\') {
      out.append("\\\\");
    } else if (c == '"') {
      out.append("\\\"");
    } else if (c == '\n') {
      out.append("\\n");
    } else {
      out.push_back(static_cast<char>(c));
    }
    ++i;
  }
}

}  // namespace

void AppendGaugeFamily(std::string& out, std::string_view name, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" gauge\n");
}

void AppendSample(std::string& out, std::string_view name, const Labels& labels, std::int64_t value) {
  out.append(name);
  if (!labels.empty()) {
    out.push_back('{');
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (i > 0) out.push_back(',');
      out.append(labels[i].first).append("=\"");
      AppendLabelValue(out, labels[i].second);
      out.push_back('"');
    }
    out.push_back('}');
  }
  out.append(" ").append(std::to_string(value)).append("\n");
}

}  // namespace qorv::metrics_report
