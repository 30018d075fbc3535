// Where "Help Contents" finds its help: a help file named after the program
// beside it, else the program's HTML manual.
#pragma once

#include <string>
#include <vector>

// The program's own path with its extension replaced by ".chm" (added when
// the name has none): "/usr/bin/sonalyx" gives "/usr/bin/sonalyx.chm".
std::string HelpFileBeside(const std::string& programPath);

// The places of the manual's first page, in the order they are tried: in
// the build folder beside the program, under the install prefix the program
// runs from (PREFIX/bin/sonalyx: PREFIX/share/doc/sonalyx/manual), and under
// the documentation folder it was built for.
std::vector<std::string> ManualCandidates(const std::string& programPath, const std::string& installedDocDir);

// The first of `paths` that is an existing file, or empty.
std::string FirstExisting(const std::vector<std::string>& paths);
