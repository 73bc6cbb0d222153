// The CUPS destinations a user can choose from.
#pragma once
#include <string>
#include <vector>

struct PrinterList {
    std::vector<std::string> names; // "queue" or "queue/instance", as CUPS lists them
    std::string defaultName;        // CUPS's default destination, "" for none
    std::string error;              // why there is no list (CUPS missing or unreachable)
};

// Asks CUPS (loaded on the first call) for its destinations. An empty list
// with no error means CUPS answered and has none.
PrinterList ListPrinters();
