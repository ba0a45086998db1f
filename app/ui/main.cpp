// flashmate-gui: the wizard. Options of our own:
//   --simulate          COM1 is a simulated receiver in this process, with a sample image
//   --screenshots DIR   pictures of every page in its main states, as PNG files in DIR
#include "tools/screenshots.h"
#include "tools/simulated_app.h"
#include "wizard/upgrade_app.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: flashmate-gui [--simulate | --screenshots DIR]\n"
    "  --simulate          try the wizard without hardware: COM1 is a simulated receiver\n"
    "  --screenshots DIR   write pictures of every page to DIR and exit\n";

}  // namespace

int main(int argc, char** argv)
{
    bool simulate = false;
    const char* screenshots = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simulate") == 0) {
            simulate = true;
        } else if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc) {
            screenshots = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--screenshots") == 0) {
            std::fputs(kUsage, std::strcmp(argv[i], "--help") == 0 ? stdout : stderr);
            return std::strcmp(argv[i], "--help") == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
        }
    }

    if (screenshots != nullptr) {
        // Pictures come out the same with or without a display.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        platform::Application app(argc, argv);
        std::string error;
        const std::vector<std::string> files = RenderScreenshots(screenshots, &error);
        for (const std::string& file : files) {
            std::printf("%s\n", file.c_str());
        }
        if (!error.empty()) {
            std::fprintf(stderr, "flashmate-gui: %s\n", error.c_str());
            return EXIT_FAILURE;
        }
        return EXIT_SUCCESS;
    }
    if (simulate) {
        SimulatedApp app(argc, argv);
        return app.Run();
    }
    CUpgradeApp app(argc, argv);
    return app.Run();
}
