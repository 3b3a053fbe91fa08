// The tests' folders and file helpers, the same on every platform.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "support/runner.h"

namespace testkit {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& name) {
  std::mt19937_64 random(static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                         std::random_device{}());
  std::error_code error;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate = fs::path(::testing::TempDir()) / ("sm-" + name + "-" + std::to_string(random() % 1000000007));
    if (fs::create_directory(candidate, error)) {
      fs::permissions(candidate, fs::perms::owner_all, error);
      path_ = candidate.string();
    }
  }
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code error;
  std::error_code ignored;
  // Entries that a test made read-only or closed to their owner would stop
  // the removal.
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

Sandbox::Sandbox(const std::string& name) : TempDir(name), root(path()) {
  cwd = *this / "cwd";
  config = *this / "config";
  runtime = *this / "runtime";
  std::error_code ignored;
  for (const std::string* dir : {&cwd, &config, &runtime}) {
    fs::create_directory(*dir, ignored);
    fs::permissions(*dir, fs::perms::owner_all, ignored);
  }
#ifndef _WIN32
  env["XDG_CONFIG_HOME"] = config;
  env["XDG_RUNTIME_DIR"] = runtime;
  env["LC_ALL"] = "C.UTF-8";
#endif
}

void Sandbox::Use() {
  for (const auto& kv : env) used_.push_back(std::make_unique<ScopedEnv>(kv.first, kv.second.c_str()));
}

std::string Sandbox::AppLog() const { return ReadFile(cwd + kSeparator + "Applog" + kSeparator + "VkSharemapper.log"); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

bool Exists(const std::string& path) {
  std::error_code error;
  const fs::file_type type = fs::symlink_status(path, error).type();
  return type != fs::file_type::not_found && type != fs::file_type::none;
}

unsigned ModeOf(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  return Exists(path) ? static_cast<unsigned>(status.permissions() & fs::perms::mask) : 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::size_t Entries(const std::string& folder) {
  std::size_t count = 0;
  std::error_code error;
  for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace testkit
