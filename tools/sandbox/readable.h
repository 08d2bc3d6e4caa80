// What an import's reader may read once confined: the files it is given and all they bring along.
#pragma once

#include "sandbox/gdal_env.h"

#include <string>
#include <vector>

// The files and folders `names` (inputs as named: files, folders, archives, driver names) lead to
// through the gate (see files_named), each file's companions beside it (the files whose names
// start with its own without its extension, then '.' or '_': .aux.xml, .ovr, .prj, .tfw, .hdr,
// _rpc.txt ...), an ArcInfo grid's whole folder, and the data GDAL and PROJ read (their folders).
// `siblings`, when given, gets each plain file's companions.
std::vector<std::string> readable_for(const std::vector<std::string> &names, Siblings *siblings = nullptr);
