#include "postprocessor/host/kval/catalog.h"

#include <utility>

namespace KVAL_2_18::i18n {

catalog_t::catalog_t(strings::ustring8 name, std::shared_ptr<const message_map> messages)
    : name_(std::move(name)), messages_(std::move(messages)) {}

message_t catalog_t::message(const strings::ustring8& id) const {
  if (!messages_) return {};
  const auto found = messages_->find(id.str());
  return found == messages_->end() ? message_t() : found->second;
}

}  // namespace KVAL_2_18::i18n
