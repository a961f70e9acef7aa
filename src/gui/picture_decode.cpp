#include "gui/picture_decode.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace brenvale::gui {

namespace {

bool plausible(QSize s) {
    return s.isValid() && s.width() > 0 && s.height() > 0 && s.width() <= kMaxDecodeSide && s.height() <= kMaxDecodeSide &&
           qint64{s.width()} * s.height() <= kMaxDecodePixels;
}

QImage decodeEncoded(const app::PictureBytes& picture) {
    if (picture.Bytes.empty()) return {};
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(picture.Bytes.data()),
                                                    static_cast<qsizetype>(picture.Bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // The header's size first: a claimed size beyond reason is refused before decoding.
    const QSize size = reader.size();
    if (!plausible(size)) return {};
    if (picture.QuarterScale) reader.setScaledSize(QSize(std::max(1, size.width() / 4), std::max(1, size.height() / 4)));
    QImage image = reader.read();
    if (image.isNull()) return {};
    return image;
}

QImage decodeStrip(const app::PictureBytes& picture) {
    const QSize size(picture.Width, picture.Height);
    if (!plausible(size) || (picture.Bits != 0 && picture.Bits != 8 && picture.Bits != 24)) return {};
    const std::size_t row = static_cast<std::size_t>(picture.Width) * 3;
    if (picture.Bytes.size() < row * static_cast<std::size_t>(picture.Height)) return {};
    QImage image(size, QImage::Format_RGB888);
    if (image.isNull()) return {};
    for (int y = 0; y < picture.Height; ++y) {
        std::memcpy(image.scanLine(y), picture.Bytes.data() + row * static_cast<std::size_t>(y), row);
    }
    return image;
}

}  // namespace

void LimitImageAllocations() { QImageReader::setAllocationLimit(kDecodeAllocationLimitMB); }

QImage DecodePicture(const app::PictureBytes& picture) {
    switch (picture.Kind) {
        case app::PictureKind::Encoded: return decodeEncoded(picture);
        case app::PictureKind::RgbStrip: return decodeStrip(picture);
        case app::PictureKind::None: break;
    }
    return {};
}

QImage SquareThumbnail(const QImage& picture, int side) {
    QImage square(side, side, QImage::Format_RGB32);
    square.fill(Qt::white);
    const app::ThumbPlacement p = app::PlaceThumbnail(picture.width(), picture.height(), side);
    if (p.Width == 0) return square;
    QPainter painter(&square);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(p.X, p.Y, p.Width, p.Height), picture);
    return square;
}

}  // namespace brenvale::gui
