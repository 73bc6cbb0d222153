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

// Builds gEbcdicToAscii from an IBM code page ("037", "1047", "1141", ...).
// Empty name restores nothing and returns true. On an unknown page the table
// stays as it is and the message is left in message.
bool LoadCodePage(const std::string& name, std::string& message);
