// The CUPS destinations a user can choose from, and the media of each.
#pragma once
#include <string>
#include <vector>

namespace output {

struct PrinterList {
    std::vector<std::string> names; // "queue" or "queue/instance", as CUPS lists them
    std::string defaultName;        // CUPS's default destination, "" for none
    std::string error;              // why there is no list (CUPS missing or unreachable)
};

// Asks CUPS (loaded on the first call) for its destinations. An empty list
// with no error means CUPS answered and has none.
PrinterList ListPrinters();

struct DestinationMedium {
    std::string name; // the PWG name CUPS gives, e.g. "iso_a4_210x297mm"
    int width = 0;    // hundredths of millimetres
    int length = 0;
    std::string paper; // the PAPER value of the same size, "" when PAPER has none
    bool isDefault = false;
};

struct Destination {
    std::string name; // "queue" or "queue/instance"
    bool isDefault = false;
    std::vector<DestinationMedium> media; // empty for a queue that lists none (a raw queue)
};

struct DestinationList {
    std::vector<Destination> destinations;
    std::string error; // as PrinterList's
};

// Every destination with the media it supports; asks the scheduler once per destination.
DestinationList ListDestinations();
// The PAPER value whose sheet is width x length (hundredths of millimetres), or "".
std::string PaperForSize(int width, int length);

} // namespace output
