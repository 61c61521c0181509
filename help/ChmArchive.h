#pragma once

// A compiled HTML help file (.chm) as the help window reads it, through chmlib; no Qt.
// The file is untrusted: every length and offset in it is checked before it is used.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct chmFile;

namespace pontix::help {

// What #SYSTEM says about the help file. Texts are UTF-8; paths are as the file writes them.
struct ChmSystem {
  std::string title;
  std::string defaultTopic;
  std::string contentsFile;
  std::string indexFile;
};

// #SYSTEM: a DWORD version, then records (WORD code, WORD length, data). A record cut short
// ends the list.
ChmSystem parseSystem(std::string_view bytes);

// The text #STRINGS holds at the offset #IVB gives for a context number, or nullopt.
// #IVB: a DWORD byte count, then pairs (context number, offset into #STRINGS).
std::optional<std::string> contextString(std::string_view ivb, std::string_view strings, std::uint32_t id);

// One topic an entry leads to: the "Name" before its "Local" (may be empty) and the "Local".
struct SitemapTopic {
  std::string name;
  std::string local;
};

// An entry of a contents (.hhc) or index (.hhk) file. An index entry may name several topics.
struct SitemapEntry {
  std::string name;  // the object's first "Name"
  std::vector<SitemapTopic> topics;
  std::vector<SitemapEntry> children;
};

// The "text/sitemap" objects of a sitemap file; nested lists give the children. Tolerant of
// any case of tags, missing closing tags and stray markup; never fails.
std::vector<SitemapEntry> parseSitemap(std::string_view bytes);

// Bytes as UTF-8: kept when they are valid UTF-8, else read as Windows-1252.
std::string decodeText(std::string_view bytes);
// HTML character references (&aacute; &#233; &#xE9; ...) replaced in UTF-8 text; unknown
// names stay as written.
std::string decodeEntities(std::string_view utf8);
// The charset a page declares near its start (<meta charset> or http-equiv), in lower case;
// empty when it declares none.
std::string declaredCharset(std::string_view html);

class ChmArchive {
 public:
  // Null when the file is missing, unreadable, truncated or not a compiled help file.
  static std::unique_ptr<ChmArchive> open(const std::string& path);
  ~ChmArchive();
  ChmArchive(const ChmArchive&) = delete;
  ChmArchive& operator=(const ChmArchive&) = delete;

  // The archive's own spelling ("/dir/page.htm") of a path, matched ignoring case.
  // "page.htm", "/page.htm", "dir\page.htm" and "a/../page.htm" name the same file.
  std::optional<std::string> find(std::string_view path) const;
  // A file's bytes; nullopt when it is absent or cannot be read whole.
  std::optional<std::string> read(std::string_view path) const;
  // The archive's files (not folders), sorted.
  const std::vector<std::string>& files() const { return files_; }
  const ChmSystem& system() const { return system_; }

  // The topic #SYSTEM names, else the first page of the archive.
  std::optional<std::string> defaultTopic() const;
  // The contents file #SYSTEM names, else the only .hhc in the archive.
  std::optional<std::string> contentsFile() const;
  std::optional<std::string> indexFile() const;
  // The topic the context map gives for a context number. The map may hold a path of the
  // machine that built the file: its longest tail that names a file of the archive counts.
  std::optional<std::string> contextTopic(std::uint32_t id) const;

 private:
  explicit ChmArchive(chmFile* file);
  std::optional<std::string> onlyFileEndingIn(std::string_view extension) const;

  chmFile* file_;
  std::vector<std::string> files_;
  std::unordered_map<std::string, std::string> byFoldedPath_;
  ChmSystem system_;
};

}  // namespace pontix::help
