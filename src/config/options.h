// Command-line options and the process-wide settings they fill.
#pragma once
#include <optional>
#include <string>

struct Options {
    std::optional<std::string> printerCmds;
    std::optional<std::string> printerOptions;
    std::optional<int> linesPerPage;
    std::optional<std::string> luNumber;
    std::optional<std::string> xltFile;
    std::optional<std::string> luAddress;
    std::optional<int> luType;
    int fixedFile = 0;
    std::optional<std::string> fileName;
    std::optional<int> standardOutput;
    std::optional<std::string> serverName;
    std::optional<std::string> connectName;
    std::optional<std::string> associateName;
    int debug = 0;
    int btam = 0;
    int formFeed = 0;
};

extern Options gOptions;
extern std::string gHostName;
extern int gUse3270E;
extern int gSessionFileInForce;
extern int Lutype;
extern long gConnectTimeout; // milliseconds, 0 = for ever
extern int gDebug;

// Output switches and their companions, set from the INI file by the window or
// by twprinterd (LoadOutputSettings) and read by the data stream and delivery.
extern int gPrintToPort;             // PRINT2PORT
extern int gPrintToFile;             // PRINTTOFILE
extern int gHeadings;                // HEADINGS
extern int gUseSocket;               // USESOCKET
extern int gUseCommand;              // USECOMMAND
extern int gKeepFailed;              // KEEPFAILED
extern std::string gPortName;        // LPTCOMPORT
extern std::string gSocketPort;      // SOCKETPORT
extern std::string gFileFormat;      // FILEFORMAT ("" or "pdf")
extern long gPrintAfterNLines;       // PRINTAFTERNLINES (loaded whatever the check box says)
extern int gPrintAfterNLinesChecked; // PRINTAFTERNLINESCHK, the window's check box state

// Loads the output medium settings from the INI file exactly as the setup window does.
void LoadOutputSettings();

// Values are cut at 255 characters.
bool FindOption(const std::string& commandLine, std::string& value, const char* option);
// 0, or a configuration-file message number. Exits the process with 10 on
// conflicting connect and associate names. An option ignored while
// gSessionFileInForce (-a, -s, -c, -h, -C, -A) is not written to the INI file either.
int Configure();
// Releases the option texts at the end of a client-thread run.
void ReleaseOptions();
// The LU-name configuration file path the client thread derived from CONFIGFILE.
extern std::string gLuConfigPath;
// Directory part of INI CONFIGFILE (up to the last "/" or "\\") + "kesluprt.cfg".
// The client thread stores it in gLuConfigPath at the start of each cycle; -c
// names the file that is actually parsed and updates CONFIGFILE and gLuConfigPath.
std::string LuConfigPathFromIni();
