// Delivery of a finished print job.
#pragma once
#include <cstdio>
#include <string>

extern std::string gHeadingText;

// 1 when the job was printed, copied or skipped, 0 when it failed.
int PrintFile(const std::string& path);
int GetDefaultPrinter(char* buffer, size_t size);
long GetTotalLines(const std::string& path, int maxLength);
int GetLineToPrint(FILE* file, int maxLength, char* buffer);

// Delivers jobs kept in the failed folder again, oldest first (KEEPFAILED=1).
void RedeliverFailedJobs();

// The print-to-file branch: copy beside the print file with the letter f.
int CopyToOutputFile(const std::string& path);
