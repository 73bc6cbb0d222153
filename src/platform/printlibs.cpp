#include "platform/printlibs.h"

#include <dlfcn.h>

#include <mutex>
#include <span>

namespace platform {
namespace {

PrintLibs gLibs;
std::mutex gMutex;
int gCups = 0, gCairo = 0, gFc = 0; // 0 not tried, 1 loaded, -1 failed
std::string gError;

struct Slot {
    const char* name;
    void** entry;
};

// dlsym's result stored through void**, the way POSIX documents for function pointers.
#define TW_SLOT(f) {#f, reinterpret_cast<void**>(&gLibs.f)},
const Slot kCups[] = {TW_CUPS_FUNCS(TW_SLOT)};
const Slot kCairo[] = {TW_CAIRO_FUNCS(TW_SLOT)};
const Slot kFc[] = {TW_FC_FUNCS(TW_SLOT)};
#undef TW_SLOT

bool Load(const char* soname, int& state, std::span<const Slot> slots) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (state == 0) {
        void* h = dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
        bool ok = h != nullptr;
        for (const Slot& s : slots)
            ok = ok && (*s.entry = dlsym(h, s.name)) != nullptr;
        state = ok ? 1 : -1;
        if (!ok) {
            const char* e = dlerror();
            gError = std::string("cannot load ") + soname + (e ? std::string(": ") + e : "");
        }
    }
    return state == 1;
}

} // namespace

const PrintLibs& PL() {
    return gLibs;
}

bool CupsReady() {
    return Load("libcups.so.2", gCups, kCups);
}

bool CairoReady() {
    return Load("libcairo.so.2", gCairo, kCairo);
}

bool FontconfigReady() {
    return Load("libfontconfig.so.1", gFc, kFc);
}

std::string PrintLibsError() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gError;
}

} // namespace platform
