// Runs a libFuzzer target without libFuzzer, so the normal build exercises
// it: every file of the given corpus directories, then a fixed number of
// deterministic mutations of them, some inserting the tokens of libFuzzer
// dictionaries. Same inputs on every run.
//   <program> <corpus-dir>... [-runs=N] [-dict=FILE]...
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

// The tokens of a libFuzzer dictionary: one quoted string a line, maybe
// after "name=", with \\, \" and \xNN escapes; '#' starts a comment line.
bool read_dictionary(const std::string& path, std::vector<std::string>& tokens) {
  std::ifstream in(path);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    const std::size_t open = line.find('"');
    if (line.empty() || line[0] == '#' || open == std::string::npos) continue;
    std::string token;
    for (std::size_t i = open + 1; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        token += line[i];
      } else if (line[++i] == 'x' && i + 2 < line.size()) {
        token += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        token += line[i];
      }
    }
    tokens.push_back(token);
  }
  return true;
}

void mutate(std::string& input, const std::vector<std::string>& seeds, const std::vector<std::string>& tokens,
            Random& random) {
  const std::size_t at = random.below(input.size() + 1);
  switch (random.below(6)) {
    case 0:
      if (!input.empty()) input[random.below(input.size())] ^= static_cast<char>(1u << random.below(8));
      break;
    case 1:
      if (!tokens.empty()) input.insert(at, tokens[random.below(tokens.size())]);
      break;
    case 2: input.erase(at, 1 + random.below(16)); break;
    case 3: input.insert(at, input.substr(at, 1 + random.below(64))); break;
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
  std::vector<std::string> tokens;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-runs=", 0) == 0) {
      runs = std::stoul(arg.substr(6));
      continue;
    }
    if (arg.rfind("-dict=", 0) == 0) {
      if (!read_dictionary(arg.substr(6), tokens)) {
        std::fprintf(stderr, "%s: cannot read the dictionary\n", arg.c_str() + 6);
        return 1;
      }
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
    std::fprintf(stderr, "no seed inputs; usage: %s <corpus-dir>... [-runs=N] [-dict=FILE]...\n", argv[0]);
    return 1;
  }

  for (const std::string& seed : seeds) run(seed);
  Random random;
  for (std::size_t i = 0; i < runs; ++i) {
    std::string input = seeds[random.below(seeds.size())];
    for (std::size_t n = 1 + random.below(4); n > 0; --n) mutate(input, seeds, tokens, random);
    run(input);
  }
  std::printf("%zu seeds and %zu mutations ran\n", seeds.size(), runs);
  return 0;
}
