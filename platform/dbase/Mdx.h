#pragma once

// The dBase IV production index (.MDX): 512-byte pages, 1024-byte blocks, a file header and
// tag table in the first 2048 bytes, then per tag a header block and a B-tree of character
// keys. The engine rebuilds the whole file from the records; it never updates it in place.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pontix::dbase::mdx {

struct TagKeys {
  std::string name;        // tag name, at most 10 characters
  std::string expression;  // the key field's name
  int keyLength = 0;       // the key field's width
  // (key, record number from 1); keys are exactly keyLength bytes, blank padded.
  std::vector<std::pair<std::string, std::uint32_t>> keys;
};

struct TagInfo {
  std::string name;
  std::string expression;
  char keyType = 'C';
};

// The complete index file for these tags; keys are sorted here (unsigned bytes, equal keys
// in record order). tableName goes into the file header.
std::string build(std::string_view tableName, std::vector<TagKeys> tags);

// The tags of an existing index file. Throws pontix::Error (Corruption) naming the file.
std::vector<TagInfo> readTags(const std::filesystem::path& file);

}  // namespace pontix::dbase::mdx
