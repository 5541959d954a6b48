// KVAL_2_18::i18n::message_catalogs: the catalogues loaded from files.
//
// load() reads message catalogue files (format: docs/message-catalogs.md)
// and keeps their catalogues, one per name; files of the same name, the
// unnamed ones included, merge into one catalogue. A load either succeeds
// and replaces the whole collection, or fails and leaves it as it was.
// Not synchronised; the catalog_t values it hands out are independent of it
// and may be shared between threads.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "postprocessor/host/kval/catalog.h"
#include "postprocessor/host/kval/ustring8.h"
#include "postprocessor/support/export.h"

namespace KVAL_2_18::i18n {

// The error of catalogue files that cannot be loaded or used (unreadable,
// malformed, or of a kind the caller does not take); what() says which file
// and why. Callers throw it so that a catalogue failure can be told apart
// from any other std::runtime_error.
class QORV_EXPORT CatalogError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  ~CatalogError() override;
};

class QORV_EXPORT message_catalogs {
 public:
  struct result_type {
    int status = 0;    // 0 on success, 1 on failure
    std::string text;  // empty on success, else one line naming the file and the problem
  };
  using const_iterator = std::vector<catalog_t>::const_iterator;

  // Reads `files` in order for `language`. A file that declares another
  // language fails the load (language tags compare ignoring ASCII case); a
  // file that declares none serves any language. No files means success
  // with no catalogues. An id may appear only once per catalogue name, over
  // all files. On failure `text` reads "<path>:<line>: <problem>", or
  // "<path>: <problem>" when the file cannot be read at all, e.g.
  //   "a.xml:12: duplicate message id 'qorv-x' (first defined at b.xml:3)"
  //   "c.xml: cannot open message catalog: No such file or directory"
  result_type load(const std::vector<strings::ustring8>& files, const strings::ustring8& language);

  // The loaded catalogues in ascending order of name; the unnamed one first.
  const_iterator begin() const { return catalogs_.begin(); }
  const_iterator end() const { return catalogs_.end(); }
  std::size_t size() const { return catalogs_.size(); }

  // The catalogue of that name ("" for the unnamed one); an empty catalogue
  // of that name when none was loaded.
  catalog_t catalog(const strings::ustring8& name) const;

 private:
  std::vector<catalog_t> catalogs_;  // sorted by name, names unique
};

}  // namespace KVAL_2_18::i18n
