#include "exportar/Conventions.h"

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

namespace pontix {

void replaceWorkingTable(dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                         const std::vector<dbase::IndexDef>& indexes) {
  table.requireWritable();
  io::removeUnlessInUse(table.filePath());
  io::removeUnlessInUse(table.indexPath());
  table.create(fields, indexes);
}

void createWorkingTable(dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                        const std::vector<dbase::IndexDef>& indexes) {
  replaceWorkingTable(table, fields, indexes);
  table.open(dbase::OpenMode::Shared);
}

std::vector<xml::Element> selectElements(const ProgramState& state, std::string_view path) {
  if (!state.document) throw Error(ErrorKind::InvalidArgument, "No hay ningún documento de Scolaria cargado");
  return state.document->select(path);
}

std::string readAttribute(const xml::Element& element, std::string_view name) {
  std::optional<std::string_view> value = element.attributeView(name);
  return value ? ansi::fromUtf8(ansi::trimControls(*value)) : std::string();
}

std::vector<std::string> readAttributes(const xml::Element& element,
                                        std::initializer_list<std::string_view> names) {
  std::vector<std::string> values;
  values.reserve(names.size());
  for (std::string_view name : names) values.push_back(readAttribute(element, name));
  return values;
}

void UsedAbbreviations::add(std::string text) {
  folded_.insert(ansi::foldCase(text));
  entries_.push_back(std::move(text));
}

}  // namespace pontix
