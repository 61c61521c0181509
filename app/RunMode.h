#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pontix {

// The host window handle of argument 2 read as "$" + argument: hexadecimal digits only, at
// least one, at most eight after leading zeros; values above the signed range wrap. Nothing
// when the text is not such a number.
std::optional<std::int32_t> parseHostHandle(std::string_view argument);

// The conversion error shown for an argument 2 that parseHostHandle refuses.
std::string invalidHandleText(std::string_view argument);

// Whether argument 1 names the operation: only the letters A-Z are lower-cased, then the
// texts must be equal.
bool namesOperation(std::string_view argument, std::string_view operation);

// Writes the result flag for the host: "Horalia.ini", section "Transformadores", key
// "Transformado". A folder that takes no new file (an installed copy in /usr/bin) throws
// pontix::Error saying so in Spanish and how to place the program beside the host; any
// other failure throws "Unable to write to <path>".
void writeResultFlag(const std::filesystem::path& iniFile, std::int32_t flag);
// The first check of writeResultFlag, made before an operation changes anything.
void checkResultFolder(const std::filesystem::path& iniFile);

// What launchFolder needs to know of the process; processLaunchEnvironment() reads it.
struct LaunchEnvironment {
  std::optional<std::string> path;      // $PATH, when set
  std::filesystem::path currentFolder;  // absolute
  std::filesystem::path executable;     // the executable itself, links resolved
  std::filesystem::path winePrefix;     // $WINEPREFIX, else ~/.wine
};
LaunchEnvironment processLaunchEnvironment();

// The folder the host launched the program from, where it reads the result: the folder of
// argv0 when it holds a '/', made absolute but with no symbolic link resolved, so a link
// placed beside the host counts as being there; a Windows path (Wine starts native programs
// with one) through Wine's drive links; a bare name as the shell finds it in PATH; else the
// executable's own folder.
std::filesystem::path launchFolder(std::string_view argv0, const LaunchEnvironment& environment);
std::filesystem::path launchFolder(std::string_view argv0);

// The help file to open for a bare name: beside the executable first, else the installed
// copy in <executable's folder>/../share/pontix. The name comes back unchanged when the
// installed copy is not there either, or when it names a folder.
std::string helpFileLocation(const std::string& name, const std::filesystem::path& executable);

// Under Wine a host cannot wait for a native program, so the Windows launcher it starts waits
// for the marker file named in $PONTIX_MARCA_FIN instead. The program holds a record lock on
// it while it runs (gone with the process, however it ends, which the launcher's LockFile
// sees), writes into it to say it has started, and removes it when it exits. Nothing happens
// without the variable; never throws.
void holdEndMarker();

}  // namespace pontix
