// Test support for the extensions run by the real driver: run data naming
// extensions of the build, the driver run with its console captured, and the
// files a run writes kept for the checks that read them as their readers do.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "postprocessor/postprocessor.h"
#include "tests/support/capture.h"

namespace qorv::testing {

// Run data that names `extensions` of the build's extension directory.
inline std::shared_ptr<Config> ExtensionRun(std::vector<std::string> extensions, std::time_t timestamp) {
  auto config = std::make_shared<Config>();
  config->extension_specs.push_back(ExtensionSpec{std::move(extensions), QORV_EXTENSION_DIR});
  config->timestamp = timestamp;
  return config;
}

struct DriverRun {
  int status;
  std::string out;
  std::string err;
};

inline DriverRun RunDriver(std::shared_ptr<Config> config) {
  CaptureOutput capture;
  const int status = postprocessor::run_postprocessor(config);
  return {status, capture.out(), capture.err()};
}

// Writes text as <current test's name><suffix> into the directory that the
// environment variable `env` names; nothing when it is unset or text empty.
inline void KeepSample(const char* env, const std::string& suffix, const std::string& text) {
  const char* samples = std::getenv(env);
  if (samples == nullptr || text.empty()) return;
  std::filesystem::create_directories(samples);
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::ofstream(std::string(samples) + "/" + name + suffix, std::ios::binary) << text;
}

}  // namespace qorv::testing
