// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The recording WriteGraphicFile of the engine tests.
#include <cstdint>
#include <cstring>
#include <utility>

#include "RecordingWriter.h"

extern "C" int WriteGraphicFile(const char* name, HGLOBAL block, int index, int count) {
    enginetest::WriterCall call;
    call.name = name ? name : "";
    call.index = index;
    call.count = count;
    call.blockSize = GlobalSize(block);
    if (auto* data = static_cast<std::uint8_t*>(GlobalLock(block))) {
        call.block.assign(data, data + call.blockSize);
        GlobalUnlock(block);
    }
    enginetest::gWriterCalls.push_back(std::move(call));
    return enginetest::gWriterResult;
}
