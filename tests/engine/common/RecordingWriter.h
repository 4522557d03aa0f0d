// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A stand-in for the TIFF writer's WriteGraphicFile, defined in the test
// program so that it takes the place of the library's: it records every
// call and a copy of every block it is handed.
#pragma once

#include "DibTypes.h"
#include "GlobalMemory.h"
#include <cstring>

#include <cstdint>
#include <string>
#include <vector>

namespace enginetest {

struct WriterCall {
    std::string name;
    int index = 0, count = 0;
    std::size_t blockSize = 0;
    std::vector<std::uint8_t> block; // the whole block
    BITMAPINFOHEADER header() const {
        BITMAPINFOHEADER h{};
        if (block.size() >= sizeof h)
            std::memcpy(&h, block.data(), sizeof h);
        return h;
    }
    const std::uint8_t* pixels() const { return block.data() + 48; }
};

inline std::vector<WriterCall> gWriterCalls;
inline int gWriterResult = 1;

} // namespace enginetest
