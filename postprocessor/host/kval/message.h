// KVAL_2_18::i18n::message_t: one catalogue message, parsed once.
//
// A message is held as parts: runs of literal text and placeholders that
// name an argument ("{0}", "{1}", ...). Literal braces written "{{" and "}}"
// in the catalogue are already plain text here. A default-constructed
// message is absent, which is what a catalogue returns for an unknown id.
// Copies share the immutable parts: copying is cheap, and copies may be read
// from several threads at once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "postprocessor/host/kval/varg_list.h"
#include "postprocessor/support/export.h"

namespace KVAL_2_18::i18n {

namespace detail {
struct message_parts;
}

class QORV_EXPORT message_t {
 public:
  message_t() = default;

  // A message of the given parts; built by the catalogue reader.
  explicit message_t(std::shared_ptr<const detail::message_parts> parts);

  // Number of parts: maximal runs of literal text plus placeholders. 0 when
  // the message is absent, and also when its text is empty, so callers that
  // test size() treat an empty message like a missing one.
  // "Node {0} is down" has 3 parts; "{0}{1}" has 2; "{{}}" has 1.
  std::size_t size() const;

  // The text with each placeholder replaced by the argument of that name.
  // An argument's text is inserted as it is, never scanned for placeholders.
  // A placeholder without a matching argument stays visible as written
  // ("{2}"); arguments no placeholder names are ignored. Empty for an absent
  // message.
  std::string as_string(const generic::varg_list& args) const;

 private:
  std::shared_ptr<const detail::message_parts> parts_;
};

}  // namespace KVAL_2_18::i18n
