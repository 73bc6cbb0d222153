// The process-wide EBCDIC-to-ASCII table and its loaders.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

extern uint8_t gEbcdicToAscii[256];
extern int gTranslate;
extern const uint8_t kBuiltinEbcdicToAscii[256];

// 0 when the file was read and checked completely, 1 otherwise.
int PrtXlateInit(const std::string& path);
int PrtXlateReadRecord(uint8_t* buffer, size_t capacity, FILE* file);
bool PrtXlateReadTable(FILE* file, uint32_t key, uint8_t* destination);

// Builds gEbcdicToAscii from an IBM EBCDIC code page ("037", "IBM1047", "cp1141",
// ...) through iconv, into ISO 8859-1, or ISO 8859-15 for the euro pages 1140-1149.
// Codes 0x00-0x3F keep the built-in table's entries (null prints as a blank;
// 0x02, 0x03 and 0x1B give no character; other controls '?'), and any code whose
// character is missing in the target set or is a control gives '?', so a code page
// never puts a control byte into a print file. Empty name restores nothing and
// returns true. On an unknown page the table stays as it is and the message is
// left in message.
bool LoadCodePage(const std::string& name, std::string& message);
