#include "TestSupport.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/AnsiText.h"
#include "platform/dbase/Table.h"

namespace pontix::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pontix-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests make files read-only; give permissions back so everything can go.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

CommandResult run(const std::string& commandLine) {
  CommandResult result;
  FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string cli(const char* path) {
  const char* prefix = std::getenv("PONTIX_CLI_PREFIX");
  return prefix && *prefix ? std::string(prefix) + " " + path : std::string(path);
}

std::string shellQuote(std::string_view text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string ansi(std::string_view utf8) { return ansi::fromUtf8(utf8); }

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old, had_ = true;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    setenv(name_, old_.c_str(), 1);
  else
    unsetenv(name_);
}

void writeTable(const std::filesystem::path& dir, const std::string& name,
                const std::vector<dbase::FieldDef>& fields,
                const std::vector<std::vector<std::string>>& rows) {
  dbase::Table t(dir, name);
  t.create(fields);
  t.open(dbase::OpenMode::Exclusive);
  for (const auto& row : rows) {
    t.append();
    for (std::size_t i = 0; i < row.size(); ++i) t.fieldAt(i).setText(ansi(row[i]));
    t.post();
  }
  t.close();
}

std::vector<std::vector<std::string>> tableRows(const std::filesystem::path& dir, const std::string& table) {
  dbase::Table t(dir, table);
  t.open(dbase::OpenMode::Shared);
  std::vector<std::vector<std::string>> rows;
  for (t.first(); !t.eof(); t.next()) {
    rows.emplace_back();
    for (std::size_t i = 0; i < t.fieldCount(); ++i)
      rows.back().push_back(ansi::toUtf8(t.fieldAt(i).asText()));
  }
  return rows;
}

}  // namespace pontix::test
