// The LUs of a board for people: a page that refreshes itself and needs no
// script, and the same figures as JSON.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "session/lu_board.h"

std::string RenderStatusPage(const std::vector<LuEntry>& lus, int64_t now);
std::string RenderStatusJson(const std::vector<LuEntry>& lus);
