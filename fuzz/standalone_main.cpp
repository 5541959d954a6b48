// Runs a libFuzzer target without libFuzzer, so the normal build exercises
// it: every file of the given corpus directories, then a fixed number of
// deterministic mutations of them. Same inputs on every run.
//   <program> <corpus-dir>... [-runs=N]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Fragments that steer mutations towards the reader's interesting paths.
const char* const kTokens[] = {
    "<", ">", "/>", "</", "&", ";", "{", "}", "{{", "}}", "{0}", "{12}", "'", "\"", "=", "<!--", "-->",
    "<![CDATA[", "]]>", "<?", "?>", "&#", "&#x", "&lt;", "&amp;", "&#x1F600;", "<message id='m'>",
    "</message>", "<message-catalog>", "</message-catalog>", "<!DOCTYPE", "\r\n", "\r", "\xC3\xBC",
    "\xE2\x82", "\xF0\x9F\x98\x80", "\xFF", "language='en'", "name='n'",
};

class Random {
 public:
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::size_t below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(next() % bound); }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15u;
};

void mutate(std::string& input, const std::vector<std::string>& seeds, Random& random) {
  const std::size_t at = random.below(input.size() + 1);
  switch (random.below(6)) {
    case 0:
      if (!input.empty()) input[random.below(input.size())] ^= static_cast<char>(1u << random.below(8));
      break;
    case 1:
      input.insert(at, kTokens[random.below(std::size(kTokens))]);
      break;
    case 2:
      input.erase(at, 1 + random.below(16));
      break;
    case 3:
      input.insert(at, input.substr(at, 1 + random.below(64)));
      break;
    case 4: {
      const std::string& other = seeds[random.below(seeds.size())];
      input = input.substr(0, at) + other.substr(random.below(other.size() + 1));
      break;
    }
    default:
      if (!input.empty()) input[random.below(input.size())] = static_cast<char>(random.below(256));
      break;
  }
}

void run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t runs = 5000;
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-runs=", 0) == 0) {
      runs = std::stoul(arg.substr(6));
      continue;
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(arg, error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    if (error) {
      std::fprintf(stderr, "%s: %s\n", arg.c_str(), error.message().c_str());
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> seeds;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (seeds.empty()) {
    std::fprintf(stderr, "no seed inputs; usage: %s <corpus-dir>... [-runs=N]\n", argv[0]);
    return 1;
  }

  for (const std::string& seed : seeds) run(seed);
  Random random;
  for (std::size_t i = 0; i < runs; ++i) {
    std::string input = seeds[random.below(seeds.size())];
    for (std::size_t n = 1 + random.below(4); n > 0; --n) mutate(input, seeds, random);
    run(input);
  }
  std::printf("%zu seeds and %zu mutations ran\n", seeds.size(), runs);
  return 0;
}
