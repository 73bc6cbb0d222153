#include "platform/printlibs.h"

#include <dlfcn.h>

#include <mutex>

namespace platform {
namespace {

PrintLibs gLibs;
std::mutex gMutex;
int gCups = 0, gCairo = 0; // 0 not tried, 1 loaded, -1 failed
std::string gError;

bool Load(const char* soname, int& state, bool (*bind)(void*)) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (state == 0) {
        void* h = dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
        state = h && bind(h) ? 1 : -1;
        if (state < 0) {
            const char* e = dlerror();
            gError = std::string("cannot load ") + soname + (e ? std::string(": ") + e : "");
        }
    }
    return state == 1;
}

template <typename F> bool Bind(void* h, const char* name, F& slot) {
    slot = reinterpret_cast<F>(dlsym(h, name));
    return slot != nullptr;
}

} // namespace

const PrintLibs& PL() {
    return gLibs;
}

bool CupsReady() {
    return Load("libcups.so.2", gCups, [](void* h) {
        bool ok = true;
#define TW_BIND(f) ok = Bind(h, #f, gLibs.f) && ok;
        TW_CUPS_FUNCS(TW_BIND)
#undef TW_BIND
        return ok;
    });
}

bool CairoReady() {
    return Load("libcairo.so.2", gCairo, [](void* h) {
        bool ok = true;
#define TW_BIND(f) ok = Bind(h, #f, gLibs.f) && ok;
        TW_CAIRO_FUNCS(TW_BIND)
#undef TW_BIND
        return ok;
    });
}

std::string PrintLibsError() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gError;
}

} // namespace platform
