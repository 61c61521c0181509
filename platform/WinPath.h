#pragma once

#include <filesystem>
#include <string_view>

namespace pontix {

// Where drive C: lives on this system: $PONTIX_DRIVE_C, else $WINEPREFIX/drive_c, else
// ~/.wine/drive_c (when they exist), else $XDG_DATA_HOME/pontix/drive_c. Need not exist.
std::filesystem::path driveCRoot();

// Maps one of the converter's fixed Windows paths ("C:\KTEMP", "c:\ktemp", "\ktemp",
// "c:\ktemp\saga") to a path of this system. Drive C: and the root of the current drive
// are the drive root above. Each component that has no exact match is matched ignoring
// letter case, as Windows does; components that do not exist keep the case given.
// On Windows the path is returned as it is. Other drives throw pontix::Error (NotFound).
std::filesystem::path mapWindowsPath(std::string_view windowsPath);

// The folders of `windowsFolder` ("KTEMP\SAGA", separators either way) below `root`, each
// matched as mapWindowsPath does; ".." stops at `root`.
std::filesystem::path resolveWindowsFolders(const std::filesystem::path& root,
                                            std::string_view windowsFolder);

// Whether two file names are equal ignoring ASCII letter case, as Windows matches them.
bool sameIgnoringAsciiCase(std::string_view a, std::string_view b);

// The entry of `folder` named `name`, matched exactly or else ignoring ASCII letter case;
// folder / name when there is none.
std::filesystem::path resolveIgnoringCase(const std::filesystem::path& folder, std::string_view name);

}  // namespace pontix
