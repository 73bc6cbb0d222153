// The window's numbered texts.
#pragma once
#include <QString>

namespace ui {

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
    MSG_CONNECTING = 47,
    MSG_BAD_SESSION_ID = 48,
    MSG_BAD_ADDRESS = 49,
    MSG_NEED_JOB_NAME = 50,
    MSG_NEED_PORT_NUMBER = 51,
    MSG_BAD_LU_TYPE = 52,
    MSG_TEXT_START_VISIBLE = 53,
    MSG_NEED_SOCKET_PORT = 57,
    MSG_NEED_LPT_COM = 59,
    MSG_NEED_FILE_NAME = 60,
    MSG_NEED_TIMEOUT = 95,
    MSG_DELAYING = 96,
    MSG_BAD_PORT_NUMBER = 120,
    MSG_BAD_SOCKET_PORT = 121,
};

// Text of message n of the string table.
QString UiText(int n);

inline constexpr const char* kVersion = "1.5.1";

} // namespace ui
