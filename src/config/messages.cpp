#include "config/messages.h"
#include "config/result.h"
#include "config/utilities.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace config {

namespace {

struct Entry {
    int number;
    const char* text;
};

// The string table: window texts and the engine's result codes.
constexpr Entry kStrings[] = {
    {1, "Are you sure you want to exit?"},
    {2, "Printer client shutting down. Please wait..."},
    {3, "Please stop the printer client first."},
    {4, "Save changes?"},
    {6, "Tarnwick printer client is offline."},
    {7, "Tarnwick printer client is online."},
    {11, "Must enter either connectname or associatename."},
    {12, "Cannot specify both connectname and associatename."},
    {13, "&Start"},
    {14, "S&top"},
    {15, "H&ide"},
    {16, "&Printer setup"},
    {17, "Sa&ve"},
    {18, "&Undo"},
    {19, "E&xit"},
    {20, "&Help"},
    {22, "Host name:"},
    {23, "Port number:"},
    {24, "Session ID:"},
    {25, "Address:"},
    {28, "Lu type:"},
    {29, "Connect name:"},
    {30, "Associate name:"},
    {31, "Startup"},
    {32, "&Auto"},
    {33, "&Manual"},
    {35, "Printer client setup"},
    {47, "Attempting to connect..."},
    {48, "Session ID must be digit 0-4, or letter a-e, or letter A-E, or -1."},
    {49, "Address must be digit 0-255, or -1."},
    {50, "Must enter a print job name."},
    {51, "Must enter a port number."},
    {52, "Enter an LU Type: 1 or 3."},
    {53, "Start visible"},
    {57, "Must enter a socket port number."},
    {59, "LPT or COM port must be specified."},
    {60, "File name must be specified."},
    {62, "This LU is not a printer!"},
    {63, "LU mismatch.\nTry LU"},
    {65, "Unable to connect to server"},
    {68, "Unable to get local host name."},
    {69, "Exiting at parents request."},
    {70, "Socket error:"},
    {71, "Timeout waiting for write to complete"},
    {72, "Unable to open LPT/COM port:"},
    {73, "Unable to write to LPT/COM port:"},
    {75, "No output medium has been specified."},
    {76, "Error writing to socket:"},
    {77, "Memory error."},
    {78, "Unable to find configuration file name."},
    {79, "Unable to connect to LU."},
    {80, "Connect name too long. Must be 16 characters or less."},
    {81, "Duplicate connect LU number:"},
    {82, "Duplicate connect name:"},
    {83, "Invalid associate name:"},
    {84, "Associate name too long:"},
    {85, "Duplicate associate LU number:"},
    {86, "Duplicate associate name:"},
    {87, "Nor connect name for associate name:"},
    {88, "Unable to open configuration file."},
    {89, "Error reading configuration file."},
    {90, "Syntax error in configuration file:"},
    {91, "Invalid host name:"},
    {92, "Invalid port:"},
    {93, "Unable to connect:"},
    {94, "Error from system function fputc."},
    {95, "Must set  connection timeout. Set to 0 to disable."},
    {96, "Delaying before reconnect."},
    {97, "The print file folder cannot be written."},
    {98, "A TLS file cannot be read."},
    {120, "Port number: expected a port number 1 to 65535 or a service name."},
    {121, "Socket port: expected a port number 1 to 65535, or host:port."},
};

struct Status {
    char cls;
    const char* text;
};

constexpr Status kStatus[kStatusCount] = {
    {' ', ""},
    {'M', "Telnet error"},
    {'M', "Connection closed by server"},
    {'M', "Invalid print mode"},
    {'M', "Unable to open print file \n"},
    {'M', "Unable to open error file \n"},
    {'M', "Unable to open print spooler\n"},
    {'M', "Error writing to print file \n"},
    {'M', "Error writing to print spooler\n"},
    {'M', "Print options too long"},
    {'M', "Specified printing mode not yet implemented"},
    {'M', "Unknown file print error occurred"},
    {'M', "File printed"},
    {'M', "CONFIG syntax error"},
    {'M', "CONFIG file error"},
    {'M', "Memory no longer is adequate"},
    {'M', "No file specified"},
    {'M', "Trying to Connect"},
};

} // namespace

const char* LoadMessage(int number) {
    for (const Entry& e : kStrings)
        if (e.number == number) return e.text;
    return "";
}

Result SystemFailure(int code, int err, std::string subject) {
    return {code, FormatSystemError(nullptr, err), std::move(subject)};
}

std::string Result::Text() const {
    std::string text = LoadMessage(code);
    if (!reason.empty()) {
        text += ' ';
        text += reason;
    }
    return text;
}

std::string StatusMessage(int number, const StatusTexts* replaced) {
    if (number < 0 || number >= kStatusCount) return "";
    if (replaced && !(*replaced)[number].empty()) return (*replaced)[number];
    return kStatus[number].text;
}

} // namespace config
