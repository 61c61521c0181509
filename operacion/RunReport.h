#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dbase/Table.h"

namespace pontix {

// What a run did to the data beyond copying it: values cut to their fields, abbreviations
// numbered, characters the code page lacks, things left out or unmatched, and the tables kept
// from before. Filled while the run goes, for the person who started it to read afterwards.
class RunReport final : public dbase::TableObserver {
 public:
  enum class Kind {
    CutValue,              // where: TABLE.FIELD; the value given and the one kept
    NumberedAbbreviation,  // where: TABLE; the abbreviation wanted and the one given
    ReplacedCharacters,    // where: ELEMENT/attribute; the value read and the one stored
    CourseWithoutGroups,   // the course's code
    SubjectWithoutMatib,   // the subject's code and its course
    CourseWithoutLevel,    // the course's code
    SkippedEntry,          // an entry of SOLUC left out (day 0)
    MissedLookup,          // where: the kind of code; the code no record has
  };
  static constexpr std::size_t kExamples = 5;

  struct Example {
    std::string before;  // UTF-8
    std::string after;   // UTF-8; empty for the kinds whose example is a single value
  };
  struct Finding {
    Kind kind;
    std::string where;
    std::uint64_t count = 0;
    std::vector<Example> examples;  // the first kExamples
  };

  // Forgets the previous run's report: a new run of this operation ("exportar", "importar").
  void start(std::string operation);
  const std::string& operation() const { return operation_; }

  // One occurrence (or `count`) of a finding; the texts are ANSI, `after` empty for a single
  // value. Only the first few keep their texts, so noting costs little however many there are.
  void note(Kind kind, std::string_view where, std::string_view before, std::string_view after = {},
            std::uint64_t count = 1);
  // A finding whose single value is already UTF-8 (a message).
  void noteText(Kind kind, std::string_view where, std::string_view utf8);
  // Characters replaced in one value: `utf8` as read, `ansi` as stored.
  void noteReplaced(std::string_view where, std::string_view utf8, std::string_view ansi, std::size_t count);
  // Records (or elements) a table or file received.
  void written(std::string_view what, std::uint64_t records);
  // Where the previous versions of the tables go.
  void setPreviousFolder(std::string folder) { keptFolder_ = std::move(folder); }
  // A table's previous version now in that folder.
  void keptPrevious(std::string_view table);
  // The file the run wrote besides the tables (Importar's SolucioHorari.xml), as a path in UTF-8.
  void setOutputFile(std::string path) { outputFile_ = std::move(path); }
  const std::string& outputFile() const { return outputFile_; }
  // A table the run read that has no record at all, which explains why nothing matched in it.
  void noteEmptyTable(std::string_view table) { emptyTables_.emplace_back(table); }
  // What the run put right before it started (an operation that had not ended), UTF-8.
  void noteRecovered(std::string text) { recovered_.push_back(std::move(text)); }
  const std::vector<std::string>& recovered() const { return recovered_; }

  const std::vector<std::pair<std::string, std::uint64_t>>& records() const { return records_; }
  const std::vector<Finding>& findings() const { return findings_; }
  const std::vector<std::string>& keptTables() const { return kept_; }
  const std::string& keptFolder() const { return keptFolder_; }
  // The finding of this kind and place, or nullptr.
  const Finding* find(Kind kind, std::string_view where = {}) const;

  // The findings that change what the timetabling program or the administration system will
  // see, in one or two plain lines for the box that ends the run; none for a clean run.
  struct Summary {
    std::vector<std::string> lines;  // UTF-8
    bool warning = false;            // something is missing rather than only shortened or replaced
  };
  Summary summary() const;
  // The report in Spanish, as the person who ran the conversion reads it (UTF-8).
  std::string text() const;
  // The report as JSON (UTF-8), for scripts.
  std::string json() const;

  void valueCut(const dbase::Table& table, const dbase::Field& field,
                std::string_view given) noexcept override;
  void tableClosed(const dbase::Table& table, std::uint32_t records) noexcept override;

 private:
  Finding& findingFor(Kind kind, std::string_view where);

  std::string operation_;
  std::vector<std::pair<std::string, std::uint64_t>> records_;
  std::vector<Finding> findings_;
  std::vector<std::string> kept_;
  std::string keptFolder_;
  std::vector<std::string> recovered_;
  std::string outputFile_;
  std::vector<std::string> emptyTables_;
};

}  // namespace pontix
