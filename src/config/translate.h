// EBCDIC-to-ASCII tables: the built-in one, translation files and host code pages.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace config {

struct HostCodePage;

using EbcdicTable = std::array<uint8_t, 256>;

extern const EbcdicTable kBuiltinEbcdicToAscii;

// Loads the translation file at path into table: 0 when the file was read and
// checked completely, 1 otherwise (reason on standard error). The table is
// replaced as soon as its record is read, even when a later record is bad.
int PrtXlateInit(const std::string& path, EbcdicTable& table);
int PrtXlateReadRecord(uint8_t* buffer, size_t capacity, FILE* file);
bool PrtXlateReadTable(FILE* file, uint32_t key, uint8_t* destination);

// Builds table from an IBM EBCDIC code page ("037", "IBM1047", "cp1141", ...)
// through iconv, into ISO 8859-1, or ISO 8859-15 for the euro pages 1140-1149.
// Codes 0x00-0x3F keep the built-in table's entries (null prints as a blank;
// 0x02, 0x03 and 0x1B give no character; other controls '?'), and any code whose
// character is missing in the target set or is a control gives '?', so a code page
// never puts a control byte into a print file. An empty name changes nothing and
// returns true. On an unknown page the table stays as it is and the message is
// left in message.
bool LoadCodePage(const std::string& name, EbcdicTable& table, std::string& message);

// The same page as characters, for print files in any charset: every
// single-byte code's character (controls as in the built-in table, a code the
// page lacks "?"), and for the double-byte pages (930, 939, 1390, 1399, 935,
// 1388, 937, 933, 1364) the dbcs flag. False with a message for an unknown page.
bool LoadHostCharacters(const std::string& name, HostCodePage& page, std::string& message);

// The double-byte character of a DBCS page for the pair b1 b2 through converter
// (an iconv descriptor from the page to UTF-32LE); 0 when the page has none.
char32_t DbcsCharacter(void* converter, uint8_t b1, uint8_t b2);

// Characters that take two columns on a terminal and in a drawn page.
bool IsWideChar(char32_t c);

// The pages offered by name, with their language, for lists and the manual.
struct CodePageInfo {
    int number;
    const char* language;
};
std::span<const CodePageInfo> KnownCodePages();

} // namespace config
