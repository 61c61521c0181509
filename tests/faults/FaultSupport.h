#pragma once

// What the fault tests share: the state a table must be in after any failure, and the tables
// Importar reads.

#include <filesystem>
#include <string>
#include <vector>

namespace pontix::test {

// What is wrong with the table at dbf, empty when nothing is. A table is sound when the header's
// record count is the number of whole records in the file (at most the end mark after them),
// the engine opens it and reads every record, and its .MDX, when there is one, is named by the
// header and holds exactly the keys of those records, as the independent index_dump reads them.
// No table at all (neither file) is sound too.
std::string tableFault(const std::filesystem::path& dbf);

// tableFault of every .DBF file in the folder (folders and broken links of that name are
// the test's own doing), each prefixed with its name; empty when all are sound.
std::string folderFault(const std::filesystem::path& folder);

// Files of the folder whose names start with '.': the temporary files of an atomic write.
std::vector<std::string> temporaryFiles(const std::filesystem::path& folder);

// SOLUC with this many placed entries and the five tables Importar translates them through.
void writeSolutionTables(const std::filesystem::path& folder, int entries);

}  // namespace pontix::test
