// Titles derived from the executable's path.
#pragma once

#include <string>
#include <string_view>

namespace quarvel {

// The file-name part of `path` (after the last "/", "\" or ":") without its last extension
// (from the last "." on). "C:\panel\probe.test.exe" gives "probe.test", ".exe" gives "".
std::string strip_extension(std::string_view path);

// The application title before the first activation: the file name cut at its first ".", its
// first character upper-cased and the rest lower-cased (ASCII letters only; other bytes are kept).
// "/usr/bin/quarvel" gives "Quarvel", "C:\x\PROBE.test.exe" gives "Probe".
std::string default_application_title(std::string_view path);

}  // namespace quarvel
