#include "exportar/Conventions.h"

#include <functional>
#include <stdexcept>
#include <utility>

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

namespace pontix {

void replaceWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                         const std::vector<dbase::IndexDef>& indexes) {
  table.requireWritable();
  // In an Exportar the table the user had is already set aside; a table here is one the
  // builders' own tests, or a builder run again, made.
  const std::filesystem::path dbf = table.filePath();
  io::removeUnlessInUse(dbf);
  io::removeUnlessInUse(table.indexPathOf(dbf));
  table.observe(&state.report);
  table.create(fields, indexes);
}

void createWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                        const std::vector<dbase::IndexDef>& indexes) {
  replaceWorkingTable(state, table, fields, indexes);
  table.open(dbase::OpenMode::Shared);
}

std::vector<xml::Element> selectElements(const ProgramState& state, std::string_view path) {
  if (!state.document) throw Error(ErrorKind::InvalidArgument, "No hay ningún documento de Scolaria cargado");
  return state.document->select(path);
}

namespace {

void readAttributeInto(const xml::Element& element, std::string_view name, RunReport& report,
                       std::string& text) {
  std::optional<std::string_view> value = element.attributeView(name);
  if (!value) return text.clear();
  const std::string_view utf8 = ansi::trimControls(*value);
  std::size_t replaced = 0;
  ansi::fromUtf8(utf8, text, replaced);
  if (replaced) report.noteReplaced(element.name() + "/" + std::string(name), utf8, text, replaced);
}

}  // namespace

std::string readAttribute(const xml::Element& element, std::string_view name, RunReport& report) {
  std::string text;
  readAttributeInto(element, name, report, text);
  return text;
}

std::vector<std::string> readAttributes(const xml::Element& element,
                                        std::initializer_list<std::string_view> names, RunReport& report) {
  std::vector<std::string> values;
  readAttributes(element, names, report, values);
  return values;
}

void readAttributes(const xml::Element& element, std::initializer_list<std::string_view> names,
                    RunReport& report, std::vector<std::string>& values) {
  values.resize(names.size());
  std::size_t i = 0;
  for (std::string_view name : names) readAttributeInto(element, name, report, values[i++]);
}

}  // namespace pontix
