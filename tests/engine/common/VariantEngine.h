// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// An engine of the variant the including test program is built for, set up
// as each program starts it: the library variant with its defaults, the
// program variant from the settings dialog's defaults (the page, margins,
// font and the ":FAX:" prefix). kPrefix is that variant's command prefix.
#pragma once

#include "FaxImage.h"

#include <memory>
#include <string>

namespace enginetest {

#if FOLIO_PROGRAM_VARIANT
inline constexpr bool kLibrary = false;
inline constexpr const char* kPrefix = ":FAX:";

struct DefaultSettings : FaxSettingsSource {
    std::string WidthText() const override { return "1728"; }
    std::string HeightText() const override { return "2200"; }
    std::string LeftMarginText() const override { return "100"; }
    std::string TopMarginText() const override { return "100"; }
    std::string FontName() const override { return "Arial"; }
    std::string FontSizeText() const override { return "10"; }
    std::string MacroStart() const override { return kPrefix; }
    std::string CommentStart() const override { return "#"; }
};

inline std::unique_ptr<FaxImage> makeEngine() {
    static DefaultSettings settings;
    auto fax = std::make_unique<FaxImage>(settings, nullptr);
    fax->ResetAll();
    return fax;
}
#else
inline constexpr bool kLibrary = true;
inline constexpr const char* kPrefix = "@CONVERT:";

inline std::unique_ptr<FaxImage> makeEngine() {
    return std::make_unique<FaxImage>();
}
#endif

} // namespace enginetest
