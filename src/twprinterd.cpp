// Headless printer client: same options and INI file as the window.
#include "platform/sysinfo.h"

int main(int argc, char** argv) {
    platform::SetCommandLine(argc, argv);
    return 0;
}
