// KVAL_2_18::i18n::catalog_t: the messages of one catalogue, by id.
//
// A catalogue has a name (empty for the unnamed catalogue) and maps message
// ids to messages. A default-constructed catalogue is unnamed and empty.
// The messages are immutable and shared: copies are cheap, and copies may be
// read from several threads at once.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

#include "postprocessor/host/kval/message.h"
#include "postprocessor/host/kval/ustring8.h"
#include "postprocessor/support/export.h"

namespace KVAL_2_18::i18n {

class QORV_EXPORT catalog_t {
 public:
  using message_map = std::unordered_map<std::string, message_t>;

  catalog_t() = default;

  // A catalogue of the given messages; a null map means no messages.
  catalog_t(strings::ustring8 name, std::shared_ptr<const message_map> messages);

  const strings::ustring8& name() const { return name_; }

  // The message with this id; an absent message (size() == 0) when the
  // catalogue has none. Ids compare byte for byte.
  message_t message(const strings::ustring8& id) const;

  // Number of messages.
  std::size_t size() const { return messages_ ? messages_->size() : 0; }

 private:
  strings::ustring8 name_;
  std::shared_ptr<const message_map> messages_;
};

}  // namespace KVAL_2_18::i18n
