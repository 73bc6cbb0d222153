#include "output/printers.h"

#include <cstdlib>

#include "config/settings_table.h"
#include "output/pdf_render.h"
#include "platform/printlibs.h"

namespace output {

namespace {

// The scheduler's complaint after a call that gave nothing, "" for none.
std::string CupsError(const platform::PrintLibs& pl) {
    const char* why = pl.cupsLastErrorString();
    if (!why || !*why) return "";
    const std::string text = why;
    if (text == "Success" || text == "successful-ok") return "";
    return "CUPS at " + std::string(pl.cupsServer()) + ": " + text;
}

std::string DestName(const cups_dest_t& d) {
    std::string name = d.name ? d.name : "";
    if (d.instance) name += std::string("/") + d.instance;
    return name;
}

std::vector<DestinationMedium> MediaOf(const platform::PrintLibs& pl, cups_dest_t* dest) {
    std::vector<DestinationMedium> media;
    cups_dinfo_t* info = pl.cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    if (!info) return media;
    cups_size_t def{};
    const bool haveDefault = pl.cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, 0, &def);
    const int n = pl.cupsGetDestMediaCount(CUPS_HTTP_DEFAULT, dest, info, 0);
    for (int i = 0; i < n; ++i) {
        cups_size_t size{};
        if (!pl.cupsGetDestMediaByIndex(CUPS_HTTP_DEFAULT, dest, info, i, 0, &size)) continue;
        DestinationMedium m;
        m.name = size.media;
        m.width = size.width;
        m.length = size.length;
        m.paper = PaperForSize(size.width, size.length);
        m.isDefault = haveDefault && m.name == def.media;
        // The same sheet with other margins is listed once.
        bool seen = false;
        for (const DestinationMedium& other : media)
            seen = seen || other.name == m.name;
        if (!seen) media.push_back(std::move(m));
    }
    pl.cupsFreeDestInfo(info);
    return media;
}

} // namespace

namespace {

// Each destination the scheduler names, then the error when it named none (the
// scheduler did not answer); "" when the print libraries are missing reads as
// their own reason.
template <class Each> std::string ForEachDestination(Each each) {
    if (!platform::CupsReady()) return platform::PrintLibsError();
    const platform::PrintLibs& pl = platform::PL();
    cups_dest_t* dests = nullptr;
    const int n = pl.cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    for (int i = 0; i < n; ++i)
        each(pl, dests[i]);
    if (dests) pl.cupsFreeDests(n, dests);
    return n == 0 ? CupsError(pl) : "";
}

} // namespace

PrinterList ListPrinters() {
    PrinterList list;
    list.error = ForEachDestination([&list](const platform::PrintLibs&, const cups_dest_t& dest) {
        std::string name = DestName(dest);
        if (dest.is_default) list.defaultName = name;
        list.names.push_back(std::move(name));
    });
    return list;
}

DestinationList ListDestinations() {
    DestinationList list;
    list.error = ForEachDestination([&list](const platform::PrintLibs& pl, cups_dest_t& dest) {
        Destination d;
        d.name = DestName(dest);
        d.isDefault = dest.is_default != 0;
        d.media = MediaOf(pl, &dest);
        list.destinations.push_back(std::move(d));
    });
    return list;
}

std::string PaperForSize(int width, int length) {
    // Within a millimetre: inch sizes come back rounded to hundredths of millimetres.
    for (const std::string& one : config::ChoiceValues(*config::FindKey("PAPER"))) {
        Paper p;
        if (one.empty() || !PaperByName(one, p)) continue;
        if (std::abs(p.width - width) <= 100 && std::abs(p.length - length) <= 100) return one;
    }
    return "";
}

} // namespace output
