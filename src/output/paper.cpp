// Paper sizes by name and the locale's paper.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/utilities.h"
#include "output/pdf_render.h"

namespace output {

namespace {

struct Named {
    const char* name;
    int width, length; // hundredths of millimetres
    const char* media;
};
constexpr Named kPapers[] = {
    {"letter", 21590, 27940, "na_letter_8.5x11in"},
    {"legal", 21590, 35560, "na_legal_8.5x14in"},
    {"a4", 21000, 29700, "iso_a4_210x297mm"},
    {"a3", 29700, 42000, "iso_a3_297x420mm"},
    {"a5", 14800, 21000, "iso_a5_148x210mm"},
    {"tabloid", 27940, 43180, "na_ledger_11x17in"},
    {"ledger", 27940, 43180, "na_ledger_11x17in"},
    {"executive", 18415, 26670, "na_executive_7.25x10.5in"},
};

// The countries of a locale name (ll_CC.charset) that use Letter paper.
bool LetterTerritory(const std::string& locale) {
    size_t u = locale.find('_');
    if (u == std::string::npos) return false;
    std::string cc = locale.substr(u + 1, 2);
    for (const char* t :
         {"US", "CA", "MX", "PH", "CL", "CO", "VE", "CR", "GT", "PA", "SV", "DO", "PR", "NI"})
        if (cc == t) return true;
    return false;
}

std::string SystemPaperName() {
    if (const char* env = std::getenv("PAPERSIZE"); env && *env) return env;
    for (const char* var : {"LC_ALL", "LC_PAPER", "LANG"}) {
        const char* v = std::getenv(var);
        if (!v || !*v) continue;
        if (std::strcmp(v, "C") == 0 || std::strncmp(v, "C.", 2) == 0 ||
            std::strcmp(v, "POSIX") == 0)
            break;
        return LetterTerritory(v) ? "letter" : "a4";
    }
    std::string paper;
    if (FILE* f = std::fopen("/etc/papersize", "r")) {
        char line[64];
        while (std::fgets(line, sizeof line, f))
            if (line[0] != '#') {
                paper = line;
                break;
            }
        std::fclose(f);
    }
    return paper;
}

} // namespace

bool PaperByName(const std::string& name, Paper& paper) {
    std::string n = config::Lower(name);
    while (!n.empty() && std::isspace(static_cast<unsigned char>(n.back())))
        n.pop_back();
    for (const Named& p : kPapers)
        if (n == p.name) {
            paper = Paper{};
            paper.width = p.width;
            paper.length = p.length;
            paper.media = p.media;
            return true;
        }
    return false;
}

Paper LocalePaper() {
    Paper p;
    PaperByName(config::Lower(SystemPaperName()).rfind("letter", 0) == 0 ? "letter" : "a4", p);
    return p;
}

} // namespace output
