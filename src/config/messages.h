// Numbered messages and the replaceable status message table; a failure's
// reason travels with its number in config::Result.
#pragma once
#include <array>
#include <string>

namespace config {

// The string table's message numbers: the window's texts and the engine's results.
enum : int {
    MSG_CONFIRM_EXIT = 1,
    MSG_SHUTTING_DOWN = 2,
    MSG_STOP_FIRST = 3,
    MSG_SAVE_CHANGES = 4,
    MSG_OFFLINE = 6,
    MSG_ONLINE = 7,
    MSG_NEED_NAME = 11,
    MSG_BOTH_NAMES = 12,
    MSG_TEXT_START = 13,
    MSG_TEXT_STOP = 14,
    MSG_TEXT_HIDE = 15,
    MSG_TEXT_PRINTER_SETUP = 16,
    MSG_TEXT_SAVE = 17,
    MSG_TEXT_UNDO = 18,
    MSG_TEXT_EXIT = 19,
    MSG_TEXT_HELP = 20,
    MSG_TEXT_HOST_NAME = 22,
    MSG_TEXT_PORT_NUMBER = 23,
    MSG_TEXT_SESSION_ID = 24,
    MSG_TEXT_ADDRESS = 25,
    MSG_TEXT_LU_TYPE = 28,
    MSG_TEXT_CONNECT_NAME = 29,
    MSG_TEXT_ASSOCIATE_NAME = 30,
    MSG_TEXT_STARTUP = 31,
    MSG_TEXT_AUTO = 32,
    MSG_TEXT_MANUAL = 33,
    MSG_TITLE = 35,
    MSG_ATTEMPTING_CONNECT = 47,
    MSG_BAD_SESSION_ID = 48,
    MSG_BAD_ADDRESS = 49,
    MSG_NEED_JOB_NAME = 50,
    MSG_NEED_PORT_NUMBER = 51,
    MSG_BAD_LU_TYPE = 52,
    MSG_TEXT_START_VISIBLE = 53,
    MSG_NEED_SOCKET_PORT = 57,
    MSG_NEED_LPT_COM = 59,
    MSG_NEED_FILE_NAME = 60,
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
    MSG_NEED_TIMEOUT = 95,
    MSG_DELAYING = 96,
    MSG_BAD_PORT_NUMBER = 120,
    MSG_BAD_SOCKET_PORT = 121,
};

// Text of a string-table message; "" for an unknown number.
const char* LoadMessage(int number);

// Status messages 0..17. An LU-name file's PRINTMSG.n replaces one for the
// session that read it; an empty entry keeps the built-in text.
inline constexpr int kStatusCount = 18;
using StatusTexts = std::array<std::string, kStatusCount>;
std::string StatusMessage(int number, const StatusTexts* replaced = nullptr);

} // namespace config
