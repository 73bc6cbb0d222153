// hostsim's usage text, printed by --help and (its first line) on a usage error.
#pragma once
#include <cstdio>

void PrintUsage(FILE* to);
void PrintUsageLine(FILE* to);
