#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dbase/Table.h"

namespace pontix::test {

// A fresh folder removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / std::string(name); }

 private:
  std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};
// Runs a shell command line and collects what it prints.
CommandResult run(const std::string& commandLine);

// The command that runs the program at `path`: behind $PONTIX_CLI_PREFIX when set (for example
// valgrind), so the same tests check it under a memory checker.
std::string cli(const char* path);
// Quotes a text for the shell.
std::string shellQuote(std::string_view text);

// Sets an environment variable (or unsets it, for nullptr) for one test and puts the old
// value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// Creates a table with these fields and records; values are UTF-8 texts (numbers as their text).
void writeTable(const std::filesystem::path& dir, const std::string& name,
                const std::vector<dbase::FieldDef>& fields,
                const std::vector<std::vector<std::string>>& rows);

// Every record of a table in record order, each field as the engine gives it as text, in UTF-8.
std::vector<std::vector<std::string>> tableRows(const std::filesystem::path& dir, const std::string& table);

// Windows-1252 bytes from a UTF-8 literal, for readable test data.
std::string ansi(std::string_view utf8);

}  // namespace pontix::test
