#pragma once

// The tests' help file: tests/fixtures/help built with chmcmd into a folder of its own, once
// per test program. Never kept in the repository: chmcmd writes the folder's path into it.

#include <string>

namespace pontix::help::testing {

// The built ayuda.chm; empty when chmcmd did not make it.
const std::string& builtHelpFile();
// The fixture's source of one file, as bytes.
std::string fixtureBytes(const std::string& name);
// A file of the test program's own folder, written with these bytes; its path.
std::string writeScratchFile(const std::string& name, const std::string& bytes);

}  // namespace pontix::help::testing
