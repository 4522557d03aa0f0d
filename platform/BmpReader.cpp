// Placeholder BMP reader: refuses everything until the decoder lands.
#include "BmpReader.h"

#include "Error.h"
#include "TextFile.h"

namespace folio {

void DecodeBmp(const std::uint8_t*, std::size_t, Bitmap&) {
    throw Error("Bitmap image is not valid");
}

void LoadBmpFile(const std::string& path, Bitmap& out) {
    std::string data = ReadWholeFile(path, kMaxBmpFileBytes);
    DecodeBmp(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), out);
}

} // namespace folio
