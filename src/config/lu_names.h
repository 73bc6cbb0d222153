// The LU-name configuration file (kesluprt.cfg): "NAME = value" directives.
#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "config/messages.h"
#include "config/result.h"
#include "config/settings.h"

namespace config {

// Reads one directive at a time; the file is opened at the first call and
// closed at its end or at an error.
class LuConfigReader {
  public:
    explicit LuConfigReader(std::string path) : path_(std::move(path)) {}
    ~LuConfigReader();
    LuConfigReader(const LuConfigReader&) = delete;
    LuConfigReader& operator=(const LuConfigReader&) = delete;

    // True with a directive; false at the end of the file (end ok) or when it
    // cannot be read on (end says why: 88, 89 or 90).
    bool Next(std::string& name, std::string& value, Result& end);
    // What followed an unquoted value that a blank ended, up to a comment or the line end.
    const std::string& restOfLine() const { return rest_; }

  private:
    bool ReadChunk(std::string& chunk, bool& error);
    void KeepRest(const std::string& chunk, size_t from);
    void Close();

    std::string path_;
    FILE* file_ = nullptr;
    int line_ = 0;
    std::string rest_;
};

// What a file sets; an unset member was not named in it.
struct LuFileValues {
    std::optional<std::string> printerCmds, printerOptions, luNumber, luAddress, fileName, xltFile,
        serverName, portName;
    std::optional<int> linesPerPage, luType;
    std::optional<bool> standardOutput;
    LuNames names;
    // CHANNELS fills entries 3 on, as the host's vertical format would.
    bool channelsFixed = false;
    std::array<uint8_t, 137> channels{};
    StatusTexts statusMessages; // PRINTMSG.n
};

// Ok when the whole file was read, else why not (78..90, the file as subject);
// values read before an error are kept. PRINTMSG.n replaces status message n for this file's
// session.
Result ParseLuConfig(const std::string& path, LuFileValues& values);

} // namespace config
