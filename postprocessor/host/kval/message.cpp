#include "postprocessor/host/kval/message.h"

#include <utility>

#include "postprocessor/host/kval/message_text.h"

namespace KVAL_2_18::i18n {

message_t::message_t(std::shared_ptr<const detail::message_parts> parts) : parts_(std::move(parts)) {}

std::size_t message_t::size() const { return parts_ ? parts_->parts.size() : 0; }

std::string message_t::as_string(const generic::varg_list& args) const {
  std::string out;
  if (!parts_) return out;
  for (const detail::message_part& part : parts_->parts) {
    if (!part.placeholder) {
      out += part.text;
    } else if (const types::variant* value = args.find(part.text)) {
      out += value->to_string();
    } else {
      out += '{';
      out += part.text;
      out += '}';
    }
  }
  return out;
}

}  // namespace KVAL_2_18::i18n
