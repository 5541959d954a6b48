// qorv::TokenizedHost: compact host-list strings.
//
// get_merged_hosts names a set of hosts in the bracket notation that batch
// schedulers and parallel shells expand, e.g. "gpu[1-3]-ib,login1,node[001-004,007]".
// Stateless and safe to call from several threads at once.
#pragma once

#include <string>
#include <vector>

#include "postprocessor/support/export.h"

namespace qorv {

class QORV_EXPORT TokenizedHost {
 public:
  // One string that names exactly the given hosts, each once, as
  // comma-separated items. Runs in O(n log n) time.
  //
  // Folding: names that differ only in their last run of digits form one
  // item "prefix[elements]suffix"; digits earlier in a name are never
  // folded. Each element is a number or a range "first-last" of consecutive
  // numbers, written with the hosts' own digits:
  //  - Zero padding is kept and a range holds numbers of one width only, so
  //    "node09,node10" give "node[09-10]", "node9,node10" give "node[9-10]",
  //    and "node9,node09" give "node[9,09]" (two hosts, two elements).
  //  - A padded range runs on into unpadded numbers of the same width
  //    ("node[0998-1003]"), never into wider ones: "node[099-999,1000]".
  //  - A group of a single host is written as the bare name ("node7").
  //
  // Cases:
  //  - Duplicates are named once.
  //  - Names without digits are items of their own, as they are.
  //  - Names holding '[', ']' or ',' are items of their own, as they are.
  //    The notation cannot express such names, so a reader that expands the
  //    result will not get them back; callers that need a faithful list
  //    must not pass them.
  //  - Empty names are skipped: an empty item would be read as no host or
  //    rejected by readers.
  //  - An empty list, or one of empty names only, gives "".
  //  - A name is merged as it is shown, its control characters written as
  //    visible escapes (str::escape_controls): the result is one line of
  //    text naming exactly the escaped names.
  //
  // Order: items are sorted by prefix, then suffix, in byte order; a name
  // that is not folded sorts as a prefix of its own, before a folded item
  // with that prefix ("login,login[1-2]"). Elements in a bracket are sorted by number, an
  // unpadded element before a padded one of the same value.
  static std::string get_merged_hosts(const std::vector<std::string>& hosts);
};

}  // namespace qorv
