#include "postprocessor/host/kval/message_catalogs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "postprocessor/host/kval/catalog_parser.h"

namespace KVAL_2_18::i18n {

namespace {

std::string error_text(int error) { return std::generic_category().message(error); }

class file_descriptor {
 public:
  explicit file_descriptor(int fd) : fd_(fd) {}
  ~file_descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  file_descriptor(const file_descriptor&) = delete;
  file_descriptor& operator=(const file_descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads a whole regular file of at most kMaxCatalogBytes. Returns an empty
// string on success, else the error text.
std::string read_file(const std::string& path, std::string& bytes) {
  if (path.find('\0') != std::string::npos) {
    return path + ": cannot open message catalog: the path contains a NUL byte";
  }
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below.
  const file_descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return path + ": cannot open message catalog: " + error_text(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return path + ": cannot read message catalog: " + error_text(errno);
  if (S_ISDIR(info.st_mode)) return path + ": cannot read message catalog: " + error_text(EISDIR);
  if (!S_ISREG(info.st_mode)) return path + ": cannot read message catalog: not a regular file";
  if (static_cast<std::uint64_t>(info.st_size) > detail::kMaxCatalogBytes) {
    return path + ": message catalog is larger than 64 MiB";
  }
  bytes.clear();
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  // The file may change while it is read, so the limit is kept here too.
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return path + ": cannot read message catalog: " + error_text(errno);
    }
    if (got == 0) return {};
    if (bytes.size() + static_cast<std::size_t>(got) > detail::kMaxCatalogBytes) {
      return path + ": message catalog is larger than 64 MiB";
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

struct location {
  std::size_t file;  // index into the files of the load
  std::size_t line;
};

// One catalogue while a load builds it. `where` keys view the keys of
// `messages`, which stay put in a node-based map.
struct catalog_builder {
  std::shared_ptr<catalog_t::message_map> messages = std::make_shared<catalog_t::message_map>();
  std::unordered_map<std::string_view, location> where;
};

}  // namespace

// Out of line, so that the type's identity lives in the library alone.
CatalogError::~CatalogError() = default;

message_catalogs::result_type message_catalogs::load(const std::vector<strings::ustring8>& files,
                                                     const strings::ustring8& language) {
  try {
    std::map<std::string, catalog_builder> building;
    std::string bytes;
    detail::parsed_catalog parsed;
    for (std::size_t index = 0; index < files.size(); ++index) {
      const std::string& path = files[index].str();
      std::string error = read_file(path, bytes);
      if (error.empty()) error = detail::parse_catalog(bytes, path, language.str(), parsed);
      if (!error.empty()) return {1, std::move(error)};

      catalog_builder& target = building[parsed.name];
      for (detail::parsed_message& message : parsed.messages) {
        const auto [entry, added] = target.messages->emplace(std::move(message.id), std::move(message.message));
        if (!added) {
          const location first = target.where.at(entry->first);
          return {1, path + ":" + std::to_string(message.line) + ": duplicate message id '" + entry->first +
                         "' (first defined at " + files[first.file].str() + ":" + std::to_string(first.line) + ")"};
        }
        target.where.emplace(entry->first, location{index, message.line});
      }
    }

    std::vector<catalog_t> loaded;
    loaded.reserve(building.size());
    for (auto& [name, builder] : building) loaded.emplace_back(name, std::move(builder.messages));
    catalogs_.swap(loaded);
    return {0, {}};
  } catch (const std::bad_alloc&) {
    return {1, "out of memory while loading message catalogs"};
  }
}

catalog_t message_catalogs::catalog(const strings::ustring8& name) const {
  for (const catalog_t& candidate : catalogs_) {
    if (candidate.name() == name) return candidate;
  }
  return catalog_t(name, nullptr);
}

}  // namespace KVAL_2_18::i18n
