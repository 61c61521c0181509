#include "platform/Profile.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/FileIo.h"

namespace pontix {
namespace {

struct Line {
  std::size_t begin;  // first byte
  std::size_t end;    // one past the content, before "\r\n" or "\n"
  std::size_t next;   // start of the following line
};

std::vector<Line> splitLines(const std::string& text) {
  std::vector<Line> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t nl = text.find('\n', pos);
    std::size_t next = nl == std::string::npos ? text.size() : nl + 1;
    std::size_t end = nl == std::string::npos ? text.size() : nl;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

std::string_view trimBlanks(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool sameName(std::string_view a, std::string_view b) {
  a = trimBlanks(a);
  b = trimBlanks(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The name of a section header line, or nothing when the line is not one.
std::optional<std::string_view> sectionName(std::string_view content) {
  content = trimBlanks(content);
  if (content.empty() || content.front() != '[') return std::nullopt;
  std::size_t close = content.find(']');
  return content.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
}

bool isKeyLine(std::string_view content) {
  content = trimBlanks(content);
  return !content.empty() && content.front() != ';';
}

[[noreturn]] void unableToWrite(const std::filesystem::path& path) {
  throw Error(ErrorKind::IOError, "Unable to write to " + path.string());
}

}  // namespace

void writeProfileString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::string text;
  std::error_code ec;
  if (std::filesystem::exists(path, ec) || ec) {
    try {
      text = io::readWholeFile(path);
    } catch (const Error&) {
      unableToWrite(path);
    }
  }

  const std::string newKeyLine = std::string(key) + "=" + std::string(value) + "\r\n";
  const std::vector<Line> lines = splitLines(text);
  auto content = [&](const Line& l) { return std::string_view(text).substr(l.begin, l.end - l.begin); };
  auto hasEnding = [&](const Line& l) { return l.next > l.end; };

  std::size_t s = 0;
  while (s < lines.size() &&
         !(sectionName(content(lines[s])) && sameName(*sectionName(content(lines[s])), section)))
    ++s;

  if (s == lines.size()) {
    if (!lines.empty() && !hasEnding(lines.back())) text += "\r\n";
    text += "[" + std::string(section) + "]\r\n" + newKeyLine;
  } else {
    std::size_t lastKey = s;
    bool replaced = false;
    for (std::size_t i = s + 1; i < lines.size() && !sectionName(content(lines[i])); ++i) {
      std::string_view c = content(lines[i]);
      if (!isKeyLine(c)) continue;
      lastKey = i;
      std::size_t eq = c.find('=');
      if (!sameName(c.substr(0, eq), key)) continue;
      if (eq == std::string_view::npos) {
        text.replace(lines[i].begin, lines[i].end - lines[i].begin,
                     std::string(trimBlanks(c)) + "=" + std::string(value));
      } else {
        std::size_t from = lines[i].begin + eq + 1;
        text.replace(from, lines[i].end - from, value);
      }
      replaced = true;
      break;
    }
    if (!replaced) {
      const Line& after = lines[lastKey];
      std::string insert = newKeyLine;
      if (!hasEnding(after)) insert = "\r\n" + insert;
      text.insert(after.next, insert);
    }
  }

  try {
    io::writeFileAtomically(path, text);
  } catch (const Error&) {
    unableToWrite(path);
  }
}

}  // namespace pontix
