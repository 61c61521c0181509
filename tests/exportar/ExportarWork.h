#pragma once

// A working folder of its own, the program state over it and a fake Shell: what the builders'
// tests share.

#include <string>
#include <vector>

#include "FakeShell.h"
#include "TestSupport.h"
#include "exportar/Cursost.h"
#include "exportar/Exportar.h"

namespace pontix::test {

struct ExportarWork {
  using Rows = std::vector<std::vector<std::string>>;

  TempDir dir;
  ProgramState state{dir.path()};
  FakeShell shell;

  // Loads <CENTRE>body</CENTRE> (UTF-8) as the administration document.
  void load(const std::string& body) {
    writeFile(dir / "centre.xml", "<?xml version='1.0' encoding='UTF-8'?><CENTRE>" + body + "</CENTRE>");
    state.document = loadAdministrationDocument(dir / "centre.xml");
  }
  // "NAME type width" of every field.
  std::vector<std::string> layout(const char* table) {
    dbase::Table t(dir.path(), table);
    t.open(dbase::OpenMode::Shared);
    std::vector<std::string> fields;
    for (std::size_t i = 0; i < t.fieldCount(); ++i) {
      dbase::Field f = t.fieldAt(i);
      fields.push_back(f.name() + " " + f.type() + " " + std::to_string(f.width()));
    }
    return fields;
  }
  Rows rows(const char* table) { return tableRows(dir.path(), table); }
  // What the user would have typed in the dialog: CURSOST with these rows (CODI, DESCRIPCIO,
  // NIVEL, CURSO), as the courses builder leaves it.
  void typedCourses(const Rows& courses) { writeTable(dir.path(), "CURSOST", cursostFields(), courses); }
};

}  // namespace pontix::test
