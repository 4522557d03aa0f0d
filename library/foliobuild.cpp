// foliobuild: the command-line tool over Foliolib. Builds a fax TIFF from a
// macro file; on failure prints one line naming the file and the cause and
// exits non-zero.
#include "FaxImage.h"
#include "MacroRunner.h"
#include "PngWriter.h"
#include "tiflib32.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

constexpr const char* kUsage =
    "Usage: foliobuild [OPTIONS] MACRO TIFF\n"
    "Turns the fax macro file MACRO into the multi-page fax TIFF file TIFF\n"
    "(TIFF Class F, 204 x 196 dpi).\n"
    "\n"
    "Options:\n"
    "  --g3        CCITT Group 3 one-dimensional coding (the default; every fax\n"
    "              reader takes it)\n"
    "  --g3-2d     CCITT Group 3 two-dimensional coding (smaller files)\n"
    "  --g4        CCITT Group 4 coding (smallest files)\n"
    "  --png DIR   also write each page as DIR/<name>-<page>.png for a quick look\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Exit status: 0 when the fax was written, 1 when it was not (the reason is\n"
    "printed), 2 for a wrong command line.\n";

// The name of a file without its folder and its last extension.
std::string stem(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "foliobuild: %s\nTry 'foliobuild --help' for more information.\n",
                 message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string pngDir;
    int coding = TIFLIB_FAX_G3_1D;
    const char* files[2] = {nullptr, nullptr};
    int nfiles = 0;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                optionsEnd = true;
            } else if (arg == "--help" || arg == "-h") {
                std::fputs(kUsage, stdout);
                return 0;
            } else if (arg == "--version") {
                std::printf("foliobuild (Folioset) 1.0\n");
                return 0;
            } else if (arg == "--g3") {
                coding = TIFLIB_FAX_G3_1D;
            } else if (arg == "--g3-2d") {
                coding = TIFLIB_FAX_G3_2D;
            } else if (arg == "--g4") {
                coding = TIFLIB_FAX_G4;
            } else if (arg == "--png") {
                if (++i >= argc)
                    return usageError("--png needs a folder");
                pngDir = argv[i];
            } else if (arg.rfind("--png=", 0) == 0) {
                pngDir = arg.substr(6);
            } else {
                return usageError("unknown option '" + arg + "'");
            }
            continue;
        }
        if (nfiles == 2)
            return usageError("too many files");
        files[nfiles++] = argv[i];
    }
    if (nfiles != 2)
        return usageError("a macro file and a fax file are needed");

    SetFaxCompression(coding);

    folio::BuildOptions options;
    if (!pngDir.empty()) {
        struct stat st;
        if (stat(pngDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "foliobuild: %s: not a folder\n", pngDir.c_str());
            return 1;
        }
        const std::string base = pngDir + "/" + stem(files[1]);
        options.beforeSave = [base](FaxImage& fax, std::string& error) {
            int index = 1;
            for (Link* l = fax.Pages->First(); l; l = l->Suc(), ++index) {
                char number[16];
                std::snprintf(number, sizeof number, "-%03d.png", index);
                if (!folio::WritePng(static_cast<FaxPage*>(l)->PageImage.Picture(),
                                     base + number, error))
                    return false;
            }
            return true;
        };
    }

    std::string error;
    if (!folio::BuildFaxFile(files[0], files[1], options, error)) {
        std::fprintf(stderr, "foliobuild: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
