// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the arguments of BARCODE in the library engine. The first
// byte picks the code page the data is read in (its low bit: 65001 or the
// default 1252) and whether a font change comes first (the human-readable
// line is set in the current font); the rest, up to 4 KB, is the text after
// "BARCODE=". Each input runs once on a fresh engine with diagnostics on.
// Whatever the arguments, the pen stays where it was, every report names its
// kind, and a command refused with a warning ("nothing is drawn") leaves the
// page white.
#include "Diagnostics.h"
#include "FaxImage.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// zint's slowest encoders grow faster than linearly in the data; a macro
// line of the library is at most 499 bytes anyway.
constexpr std::size_t kMaxInput = 4096;

struct CheckingSink : folio::DiagnosticSink {
    bool warned = false;
    void Report(const folio::Diagnostic& d) override {
        if (d.message.empty() || !d.kind || !*d.kind)
            std::abort();
        // Only a refusal draws nothing, and says so at the end of its
        // message (the data it quotes may hold the same words): a number
        // that is not one is read as 0 with a warning, and the symbol is
        // drawn there; a short bar or a folded letter is warned of and drawn.
        const std::string tail = "; nothing is drawn";
        const std::string kind = d.kind;
        warned = warned ||
                 (d.severity != folio::Severity::Note &&
                  (kind.rfind("barcode-", 0) == 0 || kind == "missing-argument") &&
                  d.message.size() >= tail.size() &&
                  d.message.compare(d.message.size() - tail.size(), tail.size(), tail) == 0);
    }
};

void run(FaxImage& fax, std::string line) {
    fax.ProcessCommand(line.data());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    const std::string args(reinterpret_cast<const char*>(data) + 1,
                           std::min(size - 1, kMaxInput));
    if (args.find('\0') != std::string::npos)
        return 0; // a line ends at its first NUL byte
    FaxImage fax;
    CheckingSink sink;
    fax.SetDiagnostics(&sink);
    if (mode & 1)
        run(fax, "@CONVERT:CODEPAGE=65001");
    if (mode & 2)
        run(fax, "@CONVERT:FONT=Liberation Mono,30");
    const int x = fax.X, y = fax.Y;
    sink.warned = false;
    run(fax, "@CONVERT:BARCODE=" + args);
    if (fax.X != x || fax.Y != y || fax.PageCount != 1)
        std::abort();
    if (sink.warned && fax.Image->Picture().CountBlack() != 0)
        std::abort();
    return 0;
}
