// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the JPEG picture decoder, as FILE=name,JPEG reads a file, with
// the scaler and black-and-white step behind it (PictureFuzz.h).
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::RunPictureDecoder(folio::DecodeJpeg, "jpeg", data, size);
}
