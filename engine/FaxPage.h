// One page of a fax document: a list element holding the page image, a
// 1-bit bitmap with its canvas. Pages live in the engine's page list, which
// owns them.
#pragma once

#include "Bitmap.h"
#include "Canvas.h"
#include "List.h"

// The drawing surface of one page. The viewer of the desktop program shows
// it; in the library it only holds pixels.
class PageImage {
  public:
    PageImage() : canvas_(bitmap_) {}
    PageImage(const PageImage&) = delete;
    PageImage& operator=(const PageImage&) = delete;

    folio::Bitmap& Picture() { return bitmap_; }
    const folio::Bitmap& Picture() const { return bitmap_; }
    folio::Canvas& Canvas() { return canvas_; }

  private:
    folio::Bitmap bitmap_;
    folio::Canvas canvas_;
};

class FaxPage : public Link {
  public:
    FaxPage() = default;
    ~FaxPage() override = default;

    ::PageImage PageImage;
};
