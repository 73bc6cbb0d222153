// The LUs of a board for people: a page that refreshes itself and needs no
// script, and the same figures as JSON.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "session/lu_board.h"

namespace service {

std::string RenderStatusPage(const std::vector<session::LuEntry>& lus, int64_t now);
std::string RenderStatusJson(const std::vector<session::LuEntry>& lus);
// "online", "connecting", "offline" or "stopped".
std::string LuState(const session::LuEntry& lu);

// One LU: its last jobs and errors and the jobs it keeps, which can be
// delivered again or removed from the page when posting is on.
std::string RenderLuPage(const session::LuEntry& lu, int64_t now, bool posting);
std::string RenderLuJson(const session::LuEntry& lu);

} // namespace service
