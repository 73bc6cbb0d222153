// Everything one printer LU is configured with: one value, read once when the
// session starts (LoadSettings) or built by the window from its fields. A
// running session keeps its own copy; nothing else changes it.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/ini_values.h"
#include "config/messages.h"
#include "config/result.h"

namespace config {

// Output medium of finished jobs; one at a time.
enum class Medium { Printer, File, Port, Socket, Command };

// LU names of the LU-name configuration file, by LU number.
// LU names of the LU-name configuration file, by LU number (0..255); only the
// numbers the file names are present, so a session carries no empty table.
struct LuNames {
    std::map<int, std::string> connect;
    std::map<int, std::string> associate;
};

struct TlsSettings {
    bool enabled = false;   // TLS
    int startTls = 0;       // STARTTLS: 0 refuse the offer, 1 take it, 2 require it
    bool verify = true;     // TLSVERIFY
    std::string caFile;     // TLSCAFILE
    std::string serverName; // TLSSERVERNAME
    std::string certFile;   // TLSCERTFILE
    std::string keyFile;    // TLSKEYFILE
};

// A host code page as characters (CODEPAGE): what the print file is written from
// when one is set; without one the byte table alone decides every byte.
struct HostCodePage {
    std::string name;                  // iconv's name ("IBM273"); "" none
    bool dbcs = false;                 // SO and SI switch to and from double-byte characters
    std::array<char32_t, 256> chars{}; // the single-byte characters; 0 prints nothing
};

struct Settings {
    // Where this LU's settings came from; the INI keys the options update go here.
    std::string iniPath;
    // The INI keys the command-line options of this start set, in order. Nothing
    // writes them while loading: SaveOptionKeys does once the start's check passed.
    std::vector<std::pair<std::string, std::string>> optionKeys;
    // Folder of this LU's protocol trace; empty: the settings directory.
    std::string traceDir;
    // Finished jobs go out on a thread of the LU's own, so that a slow printer
    // never holds up the host (a pool); otherwise on the session's thread.
    bool deliveryThread = false;

    // Connection.
    std::string host;                         // HOSTNAME / -h; empty: this computer
    std::string service = "kesservd";         // SERVERNAME / -s (kesservd unknown: port 23)
    int luType = 3;                           // LUTYPE / -l: 1 or 3
    bool use3270E = false;                    // 3270E / -E
    std::optional<std::string> connectName;   // CONNECTNAME / -C
    std::optional<std::string> associateName; // ASSOCIATENAME / -A
    std::optional<std::string> sessionId;     // SESSIONID / -n (the LU number a..e, 0..4)
    std::optional<std::string> luAddress;     // LUADDRESS / -a
    // TERMINALTYPE: the one terminal type of plain TN3270; empty: IBM-3287-1, then IBM-LUn.
    std::string terminalType;
    long connectTimeoutMs = 15000; // CONNECTTIMEOUT: attempts end after it, 0 = never
    long retryDelayMs = 15000;     // RETRYINTERVAL (or RETRYDELAY): pause between attempts
    long eojTimeoutMs = 0;         // EOJTIMEOUT, 0 = off
    TlsSettings tls;

    // Data stream and job files.
    std::string fileName;        // FILENAME / -f: print file prefix
    bool fixedFile = false;      // -D
    bool standardOutput = false; // -S
    bool btam = false;           // -btam: EM ends the job
    bool formFeed = false;       // -FF: FF ends the job
    int linesPerPage = 0;        // LINESPERPAGE of the LU-name file
    long printAfterNLines = 0;   // PRINTAFTERNLINES (whatever PRINTAFTERNLINESCHK says)
    // Vertical channels fixed by the LU-name file (CHANNELS); used instead of the host's.
    bool channelsFixed = false;
    std::array<uint8_t, 137> channels{};
    // EBCDIC to ASCII: the built-in table, a code page (CODEPAGE) or a translation file (-x).
    std::array<uint8_t, 256> ebcdicToAscii{};
    bool translate = true;               // -T turns it off
    HostCodePage codePage;               // CODEPAGE as characters; a translation file clears it
    std::string outputCharset = "UTF-8"; // OUTPUTCHARSET: the job files' charset with a code page
    bool lineEndLf = false;              // LINEEND=lf: job files with LF line ends, not CR LF

    // Delivery.
    Medium medium = Medium::Printer;
    std::string printer = "NO DEAFULT PRINTER"; // PRINTER (CUPS destination)
    bool headings = false;                      // HEADINGS
    std::string portName;                       // LPTCOMPORT
    std::string socketPort;                     // SOCKETPORT "host:port"
    long socketTimeoutMs = 30000;               // SOCKETTIMEOUT, 1 to 3600 s
    std::string fileFormat;                     // FILEFORMAT: "" or "pdf"
    bool keepFailed = true;                     // KEEPFAILED
    std::string printerCmds = "lpr";            // PRINTERCMD of the LU-name file, else PRINTCOMMAND
    std::string printerOptions;                 // PRINTEROPTIONS of the LU-name file
    // Printed and PDF pages.
    bool classicLayout = false;       // PAGELAYOUT=classic: fixed font, form feeds as blanks
    std::string orientation = "auto"; // ORIENTATION: auto, portrait or landscape
    double cpi = 0;                   // CPI: 0 auto, else 10, 12, 13.3, 15 or 16.7
    double lpi = 0;                   // LPI: 0 auto, else 6 or 8
    std::string paper;                // PAPER: "" the printer's or the locale's; letter, a4...
    bool greenbar = false;            // BACKGROUND=greenbar
    std::string jobOptions;           // PRINTEROPTIONS of the INI file: CUPS name=value pairs

    // The print archive.
    long archiveDays = 0;   // ARCHIVEDAYS: 0 none
    std::string archiveDir; // ARCHIVEDIR, absolute
    long archiveMaxMb = 0;  // ARCHIVEMAXMB: 0 no limit

    // twprinterd's status endpoint.
    std::string statusAddress; // STATUSADDRESS host:port, "" none
    std::string statusToken;   // STATUSTOKEN: file holding the endpoint's token
    std::string notifyCommand; // NOTIFYCOMMAND: run on a job kept, offline, back
    long notifyAfterS = 300;   // NOTIFYAFTER: seconds offline before it is told

    LuNames luNames;
    StatusTexts statusMessages; // PRINTMSG.n of the LU-name file
    // The LU-name file in use (CONFIGFILE's folder + "kesluprt.cfg", or -c).
    std::string luConfigPath;
};

// LoadSettings' result for -C and -A together (the programs exit with it).
inline constexpr int kConflictingNames = 10;
// LoadSettings' result for a command line with an unknown option or a missing
// value; nothing was written then.
inline constexpr int kBadCommandLine = 2;

// Settings with every default and the built-in translation table.
Settings DefaultSettings();

// Fills out from the INI file iniPath (the program's when empty), then the
// options of args (the words after the program) (which write the INI keys they name), then the
// LU-name file of -c; ok, or kConflictingNames, kBadCommandLine or a message
// number with its reason (out then holds what was read so far). With -d it echoes the
// options on standard error.
//
// With sessionFileInForce the window's values already in out are kept: the
// connection (host, service, luType, use3270E, connectName, associateName,
// sessionId, luAddress, fileName) and the delivery choices (medium, headings,
// portName, socketPort, printAfterNLines, fileFormat, keepFailed). The options
// that would change the connection (-a -s -c -h -C -A) are then ignored and not
// written.
Result LoadSettings(const std::string& iniPath, const std::vector<std::string>& args,
                    bool sessionFileInForce, Settings& out);
// The same for a command line as one text: its words, the program left out.
Result LoadSettings(const std::string& iniPath, const std::string& commandLine,
                    bool sessionFileInForce, Settings& out);

// The same for a section read once: nothing is written. A relative print file
// name (FILENAME, -f, the LU-name file's) is made one in folder, or in the INI
// file's folder when folder is empty.
Result LoadSettings(const config::IniValues& ini, const std::vector<std::string>& args,
                    bool sessionFileInForce, Settings& out, const std::string& folder = "");

// The delivery choices of the INI file as the setup window loads them: one
// medium (port beats socket beats file; the print command beats file),
// headings, port, socket, PDF format, failed-job keeping, lines per page.
void LoadOutputSettings(const std::string& iniPath, Settings& out);
void LoadOutputSettings(const config::IniValues& ini, Settings& out);

// The print file prefix made absolute in folder; "" (none), "0..." (no file), NUL
// and absolute names stay as they are.
std::string PrintFileIn(const std::string& folder, const std::string& name);

} // namespace config
