// vellisto: the recorder window. Its only options are --version and --help (Qt's own, such as
// -platform, still work); both answer without a display.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "RecorderApp.h"
#include "VellistoVersion.h"

namespace {
bool HasEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Qt aborts when it cannot open any display; tell the user what to do instead.
bool DisplayAvailable(int argc, char** argv) {
    if (HasEnv("QT_QPA_PLATFORM") || HasEnv("WAYLAND_DISPLAY")) return true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0) return true;  // Qt's own option
    if (!HasEnv("DISPLAY")) return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool ok = c && xcb_connection_has_error(c) == 0;
    if (c) xcb_disconnect(c);
    return ok;
}
}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vellisto %s\n", VELLISTO_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf(
                "Usage: vellisto [Qt options]\n"
                "Records a sound-card input into one WAV file per song, split at the gaps.\n"
                "  --version  print the version and exit\n"
                "  --help     print this help and exit\n"
                "See vellisto(1); to split an existing recording: vellisto-split --help\n");
            return 0;
        }
    }
    if (!DisplayAvailable(argc, argv)) {
        std::fprintf(stderr,
                     "vellisto: the recorder window needs a graphical display, and none was "
                     "found (DISPLAY and WAYLAND_DISPLAY are unset or unreachable).\n"
                     "To split a recording without a display, use the command-line splitter:\n"
                     "    vellisto-split --help\n");
        return 2;
    }
    // Lets a Wayland compositor find the menu entry (icon, name) for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELLISTO_APP_ID));
    CRecorderApp app(argc, argv);
    return app.InitInstance();
}
