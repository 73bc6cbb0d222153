// Numbered messages, the error detail that travels with them, and the
// replaceable status message table.
#pragma once
#include <array>
#include <string>

namespace config {

// Message numbers of the string table used by the engine.
enum : int {
    MSG_ATTEMPTING_CONNECT = 47,
    MSG_NOT_PRINTER = 62,
    MSG_LU_MISMATCH = 63,
    MSG_UNABLE_CONNECT_SERVER = 65,
    MSG_NO_LOCAL_HOST = 68,
    MSG_EXIT_PARENT = 69,
    MSG_SOCKET_ERROR = 70,
    MSG_WRITE_TIMEOUT = 71,
    MSG_PORT_OPEN = 72,
    MSG_PORT_WRITE = 73,
    MSG_NO_OUTPUT_MEDIUM = 75,
    MSG_SOCKET_WRITE = 76,
    MSG_MEMORY = 77,
    MSG_CFG_NO_NAME = 78,
    MSG_CFG_CONNECT_LU = 79,
    MSG_CFG_CONNECT_TOO_LONG = 80,
    MSG_CFG_DUP_CONNECT_LU = 81,
    MSG_CFG_DUP_CONNECT_NAME = 82,
    MSG_CFG_ASSOC_NAME = 83,
    MSG_CFG_ASSOC_TOO_LONG = 84,
    MSG_CFG_DUP_ASSOC_LU = 85,
    MSG_CFG_DUP_ASSOC_NAME = 86,
    MSG_CFG_NO_CONNECT_FOR_ASSOC = 87,
    MSG_CFG_OPEN = 88,
    MSG_CFG_READ = 89,
    MSG_CFG_SYNTAX = 90,
    MSG_INVALID_HOST = 91,
    MSG_INVALID_PORT = 92,
    MSG_UNABLE_CONNECT = 93,
    MSG_FPUTC = 94,
};

// Text of a string-table message; "" for an unknown number.
const char* LoadMessage(int number);

// Detail text of the current thread's last result code; empty means none.
extern thread_local std::string gErrorDetail;
void SetErrorDetail(const std::string& text);

// The message text, with " " + detail appended when there is one; clears the detail.
std::string TakeMessageText(int number);

// Status messages 0..17. An LU-name file's PRINTMSG.n replaces one for the
// session that read it; an empty entry keeps the built-in text.
inline constexpr int kStatusCount = 18;
using StatusTexts = std::array<std::string, kStatusCount>;
std::string StatusMessage(int number, const StatusTexts* replaced = nullptr);

} // namespace config
