#pragma once
// Pictures of found files decoded with Qt's image readers, never trusting the file: the size a
// header claims is checked before anything is decoded, and the readers work under an
// allocation limit. Safe on any thread.

#include <QImage>

#include "app/raw_preview.h"

namespace brenvale::gui {

// The largest picture decoded, per side and in pixels (a header may claim anything).
inline constexpr int kMaxDecodeSide = 20000;
inline constexpr qint64 kMaxDecodePixels = 100'000'000;
// What Qt's readers may allocate for one picture, in MiB.
inline constexpr int kDecodeAllocationLimitMB = 512;

// Sets the readers' allocation limit (once per process).
void LimitImageAllocations();
// The picture the bytes hold; a null image when they hold none, or one too large.
QImage DecodePicture(const app::PictureBytes& picture);
// The picture scaled to fit a side x side square, centred on white.
QImage SquareThumbnail(const QImage& picture, int side = app::kThumbSide);

}  // namespace brenvale::gui
