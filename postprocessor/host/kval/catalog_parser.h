// Internal: the strict reader of message catalogue files.
//
// Reads one catalogue held in memory, in the XML format described in
// docs/message-catalogs.md, without a DTD and without any entity but the five
// predefined ones and character references. It allocates in proportion to
// the input and reads it once, so any input ends in a result. The file
// loader and the fuzz target both use it. Not exported.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "postprocessor/host/kval/message.h"

namespace KVAL_2_18::i18n::detail {

// The largest catalogue file accepted.
inline constexpr std::size_t kMaxCatalogBytes = std::size_t{64} << 20;

struct parsed_message {
  std::string id;
  message_t message;
  std::size_t line = 0;  // of the message's start tag
};

struct parsed_catalog {
  std::string name;                      // empty for the unnamed catalogue
  std::vector<parsed_message> messages;  // in file order, duplicates kept
};

// Parses `bytes` into `out` (cleared first). `path` only names the source in
// error texts. A file that declares a language other than `language` (ASCII
// case ignored) is refused; one that declares none is accepted.
// Returns an empty string on success; otherwise "<path>:<line>: <problem>",
// and `out` is unspecified. Duplicate ids are left to the caller, which also
// sees those across files.
std::string parse_catalog(std::string_view bytes, const std::string& path, const std::string& language,
                          parsed_catalog& out);

}  // namespace KVAL_2_18::i18n::detail
