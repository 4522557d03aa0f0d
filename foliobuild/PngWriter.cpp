// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// PNG preview files: the page encoded by the picture module, written whole
// or not at all like the fax itself.
#include "PngWriter.h"

#include "OutputFile.h"
#include "PngEncoder.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace folio {

bool WritePng(const Bitmap& page, const std::string& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!EncodeBilevelPng(page.Row(0), page.Width(), page.Height(), std::size_t(page.Stride()),
                          bytes)) {
        error = path + ": cannot write the PNG file";
        return false;
    }
    // An earlier picture survives a failure, and a device or pipe is
    // written into, not replaced.
    std::unique_ptr<OutputFile> output = OutputFile::Create(path, error);
    if (!output) {
        error = path + ": " + error;
        return false;
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(output->Fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = path + ": " + std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        done += std::size_t(n);
    }
    if (!output->Commit(error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace folio
