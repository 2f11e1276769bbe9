// vellisto: the recorder window. Its only options are --version and --help (Qt's own, such as
// -platform, still work); both answer without a display. Anything else is refused with the
// usage before a window opens, so a mistyped option is never silently ignored.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "VellistoVersion.h"
#include "app/RecorderApp.h"

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

constexpr const char* kUsage =
    "Usage: vellisto [Qt options]\n"
    "Records a sound-card input into one WAV file per song, split at the gaps.\n"
    "  --version  print the version and exit\n"
    "  --help     print this help and exit\n"
    "See vellisto(1); to split an existing recording: vellisto-split --help\n";

// Options QApplication and its platform plugins take for themselves: those that take the next
// argument as their value, then those that stand alone. Qt accepts each with one or two dashes,
// and the valued ones also as -option=value.
constexpr const char* kQtValueOptions[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "qwindowicon",
                                           "qwindowtitle",
                                           "session",
                                           "display",
                                           "geometry",
                                           "title",
                                           "name",
                                           "icon",
                                           "style",
                                           "stylesheet",
                                           "qmljsdebugger",
                                           "visual",
                                           "cmap"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "sync", "nograb", "dograb"};

// The first argument that is neither ours nor Qt's, or nullptr when all are known.
const char* UnknownArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') return arg;
        const char* name = arg + (arg[1] == '-' ? 2 : 1);
        bool known = false;
        for (const char* option : kQtFlagOptions)
            if (std::strcmp(name, option) == 0) known = true;
        for (const char* option : kQtValueOptions) {
            const size_t length = std::strlen(option);
            if (std::strncmp(name, option, length) != 0) continue;
            if (name[length] == '=') known = true;
            if (name[length] == '\0') {
                if (i + 1 >= argc) return arg;  // the value is missing
                known = true;
                ++i;
            }
        }
        if (!known) return arg;
    }
    return nullptr;
}
}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vellisto %s\n", VELLISTO_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (const char* unknown = UnknownArgument(argc, argv)) {
        std::fprintf(stderr, "vellisto: unrecognised argument '%s'\n%s", unknown, kUsage);
        return 2;
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
