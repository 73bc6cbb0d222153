// The LU-name configuration file.
#pragma once
#include <string>

extern std::string gConnectTable[256];
extern std::string gAssociateTable[256];

// 0 when the whole file was read, else a message number (78..90).
int ParseLuConfig(const std::string& path);
// -1 with a directive, 0 at end of file, or 88/89/90.
int ReadConfigLine(const std::string& path, std::string& name, std::string& value);
