#include "app/raw_preview.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "raw/raw_recover.h"

namespace brenvale::app {

namespace {

constexpr std::array<std::string_view, 8> kPictureExts{"bmp", "jpg", "jpeg", "png", "gif", "ico", "emf", "wmf"};
constexpr std::array<std::string_view, 15> kCameraExts{"cr2", "cr3", "nef", "arw", "orf", "pef", "dng", "rw2",
                                                       "x3f", "erf", "3fr", "fff", "iiq", "mos", "raf"};

bool isJpeg(std::string_view ext) { return ext == "jpg" || ext == "jpeg"; }

// A picture hit's first bytes: min(Size, 16 MiB), 16 MiB when its size is unknown.
PictureBytes pictureHead(scan::TUndelete& scan, const raw::TFoundFile& hit) {
    PictureBytes out;
    const std::int64_t want = hit.Size > 0 ? std::min(hit.Size, kPictureReadLimit) : kPictureReadLimit;
    raw::RecoverRawHead(scan, hit, want, out.Bytes);
    if (out.Bytes.empty()) return out;
    out.Kind = PictureKind::Encoded;
    out.QuarterScale = isJpeg(hit.Ext());
    return out;
}

// A camera preview's bytes with its facts: a JPEG stream, or RGB rows that must fill the size
// the file gives them (a preview whose facts do not fit is no picture).
PictureBytes previewOf(std::vector<std::byte> bytes, const raw::TRawImageInfo* info) {
    PictureBytes out;
    out.Bytes = std::move(bytes);
    if (!info || info->PreviewKind != raw::kPreviewRgb) {
        out.Kind = PictureKind::Encoded;
        return out;
    }
    out.Kind = PictureKind::RgbStrip;
    out.Width = info->PreviewWidth;
    out.Height = info->PreviewHeight;
    out.Bits = info->PreviewBits;
    const std::uint64_t need = std::uint64_t{info->PreviewWidth} * info->PreviewHeight * 3;
    if (out.Width <= 0 || out.Height <= 0 || out.Bytes.size() < need) return {};
    return out;
}

// A camera preview read with its facts: a JPEG stream, or an RGB strip with its size.
PictureBytes cameraPreview(scan::TUndelete& scan, const raw::RawScan& raw, const raw::TFoundFile& hit,
                           const raw::TRawImageInfo* info) {
    std::vector<std::byte> bytes;
    if (!raw::RecoverThumbnail(scan, raw, hit, bytes) || bytes.empty()) return {};
    return previewOf(std::move(bytes), info);
}

}  // namespace

bool IsPictureExt(std::string_view ext) {
    return std::find(kPictureExts.begin(), kPictureExts.end(), ext) != kPictureExts.end();
}

bool IsCameraRawExt(std::string_view ext) {
    return std::find(kCameraExts.begin(), kCameraExts.end(), ext) != kCameraExts.end();
}

PictureBytes ThumbnailBytes(scan::TUndelete& scan, const raw::RawScan& raw, const raw::TFoundFile& hit) {
    const std::string_view ext = hit.Ext();
    if (IsPictureExt(ext)) return pictureHead(scan, hit);
    if (IsCameraRawExt(ext)) return cameraPreview(scan, raw, hit, raw.Side().Image(hit.Info));
    return {};
}

PictureBytes PreviewPictureBytes(scan::TUndelete& scan, const raw::RawScan& raw, const raw::TFoundFile& hit) {
    const std::string_view ext = hit.Ext();
    if (hit.MajorType != 2) return {};
    if (IsPictureExt(ext)) return pictureHead(scan, hit);
    if (!IsCameraRawExt(ext)) return {};
    if (const raw::TRawImageInfo* info = raw.Side().Image(hit.Info)) return cameraPreview(scan, raw, hit, info);
    // No preview noted by the scan: read the head, larger each time, until one shows.
    std::vector<std::byte> head;
    for (std::int64_t n = kRawHeadFirst; n <= kRawHeadLast; n *= 2) {
        raw::RecoverRawHead(scan, hit, n, head);
        const auto info = raw::AnalyseRawHead(head);
        if (info && info->PreviewLength > 0 && info->PreviewOffset >= 0) {
            if (info->PreviewOffset > kRawPreviewEndLimit || info->PreviewLength > kRawPreviewEndLimit) return {};
            const std::int64_t end = info->PreviewOffset + info->PreviewLength;
            if (end > kRawPreviewEndLimit) return {};
            if (end > static_cast<std::int64_t>(head.size())) {
                raw::RecoverRawHead(scan, hit, end, head);
                if (end > static_cast<std::int64_t>(head.size())) return {};
            }
            std::vector<std::byte> bytes(head.begin() + static_cast<std::ptrdiff_t>(info->PreviewOffset),
                                         head.begin() + static_cast<std::ptrdiff_t>(end));
            return previewOf(std::move(bytes), &*info);
        }
        // The file ends before the next size: a larger read gives nothing more.
        if (static_cast<std::int64_t>(head.size()) < n) break;
    }
    return {};
}

std::vector<std::byte> HexPreviewBytes(scan::TUndelete& scan, const raw::TFoundFile& hit) {
    const std::int64_t want = hit.Size > 0 && hit.Size < kHexPreviewBytes ? hit.Size : kHexPreviewBytes;
    std::vector<std::byte> out;
    raw::RecoverRawHead(scan, hit, want, out);
    return out;
}

std::string HexPreviewCaption(const raw::TFoundFile& hit, bool anythingRead) {
    return anythingRead ? std::string(kHexPreviewCaption) + std::string(hit.Ext()) : std::string(kCannotReadContent);
}

std::string HexDumpText(std::span<const std::byte> bytes) {
    std::string out;
    out.reserve(bytes.size() / 16 * 78 + 80);
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
        out += fmt::format("{:08X}  ", at);
        for (std::size_t i = 0; i < 16; ++i) {
            if (i < n) {
                out += fmt::format("{:02X} ", static_cast<unsigned>(bytes[at + i]));
            } else {
                out += "   ";
            }
            if (i == 7) out += ' ';
        }
        out += ' ';
        for (std::size_t i = 0; i < n; ++i) {
            const auto c = static_cast<unsigned char>(bytes[at + i]);
            out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
        }
        out += '\n';
    }
    return out;
}

ThumbPlacement PlaceThumbnail(int width, int height, int side) {
    if (width <= 0 || height <= 0) return {};
    const double scale = std::min(double(side) / width, double(side) / height);
    ThumbPlacement p;
    p.Width = std::clamp(static_cast<int>(std::lround(width * scale)), 1, side);
    p.Height = std::clamp(static_cast<int>(std::lround(height * scale)), 1, side);
    p.X = (side - p.Width) / 2;
    p.Y = (side - p.Height) / 2;
    return p;
}

}  // namespace brenvale::app
