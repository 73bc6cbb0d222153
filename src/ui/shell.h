// Services of the desktop shell: the help file and the session file type.
#pragma once
#include <QString>
#include <string>

namespace ui {

inline constexpr const char* kHelpFile = "twprinter.html";
inline constexpr const char* kSessionClass = "KESPrinterClientSession";
inline constexpr const char* kSessionMimeType = "application/x-kesprinterclientsession";

// The help file beside the program, in the parent's help folder, in the
// installed share folder, or else the bare name.
QString LocateHelpFile(const QString& programDir);

// Registers ".twr" with the desktop under $XDG_DATA_HOME (MIME type, desktop
// entry, icon) and refreshes the desktop databases when their tools exist.
// 1 registered, 0 a file could not be written.
int RegisterSessionFileType();

// The program's base name, "twprinter" when the command line gave none.
std::string ApplicationName();

// $XDG_DATA_HOME, else ~/.local/share.
QString DataHome();

} // namespace ui
