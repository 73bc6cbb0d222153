// Print job files: names, opening, end of job.
#pragma once
#include <cstdio>
#include <string>

struct Session;
struct ScreenNameRec;

extern FILE* prfile;
extern std::string prfileName;
extern int32_t fileCounter;
extern std::string gFileName;

void PrScreenInit(Session* sp);
void OpenPrintFile(ScreenNameRec* rec);
void PrScreenRemote(Session* sp);
void PrScreen(Session* sp);
