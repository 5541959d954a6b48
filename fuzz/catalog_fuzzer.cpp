// libFuzzer target: the message catalogue reader on arbitrary bytes.
//
// Any input must end in a result: a catalogue, or one line of error text
// naming the file. Every message read must format with and without its
// arguments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "postprocessor/host/kval/catalog_parser.h"
#include "postprocessor/host/kval/varg_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace i18n = KVAL_2_18::i18n;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  i18n::detail::parsed_catalog catalog;
  const std::string error = i18n::detail::parse_catalog(bytes, "fuzz.xml", "en", catalog);
  if (!error.empty()) {
    if (error.rfind("fuzz.xml:", 0) != 0 || error.find('\n') != std::string::npos) std::abort();
    return 0;
  }
  KVAL_2_18::generic::varg_list args;
  args.push_back("0", "zero");
  args.push_back("1", -1);
  args.push_back("2", 2.5);
  for (const i18n::detail::parsed_message& message : catalog.messages) {
    if (message.id.empty() || message.line == 0) std::abort();
    const std::string bare = message.message.as_string({});
    const std::string filled = message.message.as_string(args);
    if (message.message.size() == 0 && (!bare.empty() || !filled.empty())) std::abort();
  }
  return 0;
}
