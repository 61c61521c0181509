#pragma once

// What every table builder of Exportar shares: how a working table is made and how an
// element's attributes are read.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "operacion/Operation.h"
#include "platform/AnsiText.h"
#include "platform/Error.h"
#include "platform/dbase/Table.h"
#include "platform/xml/Document.h"

namespace pontix {

// Deletes the table's .DBF and .MDX (a table another program holds open stays, and creating
// it then fails with the engine's error), then creates it afresh with these fields and indexes,
// closed, its cut values and record count going to the run's report. A table marked read-only
// is an error, before anything is deleted. The run's transaction has already set aside the
// table the user had.
void replaceWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                         const std::vector<dbase::IndexDef>& indexes = {});
// replaceWorkingTable, then opens it shared.
void createWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                        const std::vector<dbase::IndexDef>& indexes = {});

// The elements of the loaded administration document at an absolute path.
std::vector<xml::Element> selectElements(const ProgramState& state, std::string_view path);

// The named attribute as ANSI text: trimmed of control characters and blanks, converted to
// Windows-1252 with best fit, the characters replaced going to the report. A missing attribute
// reads as the empty text.
std::string readAttribute(const xml::Element& element, std::string_view name, RunReport& report);
std::vector<std::string> readAttributes(const xml::Element& element,
                                        std::initializer_list<std::string_view> names, RunReport& report);
// The same into `values`, one per name, keeping their room from one element to the next.
void readAttributes(const xml::Element& element, std::initializer_list<std::string_view> names,
                    RunReport& report, std::vector<std::string>& values);

}  // namespace pontix
