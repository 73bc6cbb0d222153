#include "output/printers.h"

#include "platform/printlibs.h"

PrinterList ListPrinters() {
    PrinterList list;
    if (!platform::CupsReady()) {
        list.error = platform::PrintLibsError();
        return list;
    }
    const platform::PrintLibs& pl = platform::PL();
    cups_dest_t* dests = nullptr;
    const int n = pl.cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    for (int i = 0; i < n; ++i) {
        std::string name = dests[i].name ? dests[i].name : "";
        if (dests[i].instance) name += std::string("/") + dests[i].instance;
        if (dests[i].is_default) list.defaultName = name;
        list.names.push_back(std::move(name));
    }
    if (dests) pl.cupsFreeDests(n, dests);
    // No destination and an error: the scheduler did not answer.
    if (n == 0 && pl.cupsLastErrorString()) {
        const std::string why = pl.cupsLastErrorString();
        if (!why.empty() && why != "Success" && why != "successful-ok")
            list.error = "CUPS at " + std::string(pl.cupsServer()) + ": " + why;
    }
    return list;
}
