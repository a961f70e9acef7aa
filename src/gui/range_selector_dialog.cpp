#include "gui/range_selector_dialog.h"

#include <algorithm>
#include <array>
#include <limits>

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>
#include <fmt/format.h>

namespace brenvale::gui {

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr int kBarWidth = 440;
constexpr int kLineStep = 10;
constexpr int kPageStep = 1000;
constexpr char kHint[] = "Drag the sliders to select the scan range";

// a + b - 1 without leaving the 64-bit range (a >= 0, b >= 1).
std::int64_t LastOf(std::int64_t a, std::int64_t b) { return b > kInt64Max - a ? kInt64Max : a + b - 1; }

}  // namespace

std::string RangeSizeText(double bytes) {
    static constexpr std::array<const char*, 5> kUnits{"B", "KB", "MB", "GB", "TB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < kUnits.size()) {
        bytes /= 1024;
        ++unit;
    }
    return fmt::format("{:.2f} {}", bytes, kUnits[unit]);
}

ScanRange::ScanRange(std::int64_t totalSectors, std::int64_t bytesPerSector, std::int64_t partiStart,
                     std::int64_t partiCount, std::int64_t startSector, std::int64_t endSector)
    : FBytesPerSector(bytesPerSector), FPartiStart(partiStart) {
    FSectorsPerTick = bytesPerSector > 0 ? std::max<std::int64_t>(1, kTickBytes / bytesPerSector) : 1;
    const std::int64_t partiLast = partiCount > 0 ? LastOf(FPartiStart, partiCount) : FPartiStart;
    // A range that has no sector on the device keeps its first one, so the bars stay usable;
    // ChooseRange does not offer such a range.
    FLast = std::max(FPartiStart, std::min(partiLast, totalSectors - 1));
    FStartSector = std::clamp(startSector, FPartiStart, FLast);
    FEndSector = std::clamp(endSector, FStartSector, FLast);
    FMaxTick = static_cast<int>(std::min<std::int64_t>((FLast - FPartiStart) / FSectorsPerTick, kMaxTick));
    FStartTick = clampTick(static_cast<int>(
        std::min<std::int64_t>((FStartSector - FPartiStart) / FSectorsPerTick, kMaxTick)));
    FEndTick = clampTick(static_cast<int>(
        std::min<std::int64_t>((FEndSector - FPartiStart) / FSectorsPerTick, kMaxTick)));
}

int ScanRange::clampTick(int tick) const { return std::clamp(tick, 0, FMaxTick); }

void ScanRange::moveStart(int tick) {
    FStartTick = clampTick(tick);
    FStartSector = FPartiStart + static_cast<std::int64_t>(FStartTick) * FSectorsPerTick;
    if (FEndTick < FStartTick) moveEnd(FStartTick);
}

void ScanRange::moveEnd(int tick) {
    FEndTick = clampTick(tick);
    FEndSector = std::min(FPartiStart + (static_cast<std::int64_t>(FEndTick) + 1) * FSectorsPerTick - 1, FLast);
    if (FStartTick > FEndTick) moveStart(FEndTick);
}

std::string ScanRange::startText() const {
    const std::int64_t offset = FStartSector - FPartiStart;
    return fmt::format("Start: sector {}/{}", offset,
                       RangeSizeText(static_cast<double>(offset) * static_cast<double>(FBytesPerSector)));
}

std::string ScanRange::endText() const {
    const std::int64_t offset = FEndSector - FPartiStart;
    return fmt::format("End: sector {}/{}", offset,
                       RangeSizeText(static_cast<double>(offset) * static_cast<double>(FBytesPerSector)));
}

std::string ScanRange::rangeText() const {
    const std::int64_t count = FEndSector - FStartSector + 1;
    return fmt::format("Scan range: {} ({} sectors)",
                       RangeSizeText(static_cast<double>(count) * static_cast<double>(FBytesPerSector)), count);
}

RangeSelectorDialog::RangeSelectorDialog(const ScanRange& range, QWidget* parent)
    : QDialog(parent), FRange(range) {
    setWindowTitle(QStringLiteral("Range Selector"));
    setModal(true);

    auto newBar = [this](const char* name) {
        auto* bar = new QSlider(Qt::Horizontal, this);
        bar->setObjectName(QString::fromLatin1(name));
        bar->setRange(0, FRange.maxTick());
        bar->setSingleStep(kLineStep);
        bar->setPageStep(kPageStep);
        bar->setMinimumWidth(kBarWidth);
        return bar;
    };
    auto newLabel = [this](const char* name) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        return label;
    };
    FStartLabel = newLabel("lblStart");
    FStartBar = newBar("trkStart");
    FEndLabel = newLabel("lblEnd");
    FEndBar = newBar("trkEnd");
    FRangeLabel = newLabel("lblRange");
    auto* hint = new QLabel(QString::fromLatin1(kHint), this);
    QPalette grey = hint->palette();
    grey.setColor(QPalette::WindowText, Qt::gray);
    hint->setPalette(grey);

    auto* buttons = new QDialogButtonBox(this);
    FOk = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    FCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    FOk->setDefault(true);
    FCancel->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(FStartBar, &QSlider::valueChanged, this, [this](int tick) {
        if (FUpdating) return;
        FRange.moveStart(tick);
        refresh();
    });
    connect(FEndBar, &QSlider::valueChanged, this, [this](int tick) {
        if (FUpdating) return;
        FRange.moveEnd(tick);
        refresh();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FStartLabel);
    layout->addWidget(FStartBar);
    layout->addSpacing(6);
    layout->addWidget(FEndLabel);
    layout->addWidget(FEndBar);
    layout->addSpacing(10);
    layout->addWidget(FRangeLabel);
    layout->addWidget(hint);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    // A fixed window: the layout decides its size and the user cannot change it.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    refresh();
}

void RangeSelectorDialog::refresh() {
    FUpdating = true;
    FStartBar->setValue(FRange.startTick());
    FEndBar->setValue(FRange.endTick());
    FUpdating = false;
    FStartLabel->setText(QString::fromStdString(FRange.startText()));
    FEndLabel->setText(QString::fromStdString(FRange.endText()));
    FRangeLabel->setText(QString::fromStdString(FRange.rangeText()));
}

void RangeSelectorDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) return;
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
}

std::optional<app::SectorRange> ChooseRange(QWidget* parent, const app::SectorRange& proposed,
                                            std::uint32_t sectorSize, std::uint64_t deviceSectors) {
    if (deviceSectors == 0 || proposed.Count <= 0) return std::nullopt;
    std::int64_t first = proposed.First;
    std::int64_t count = proposed.Count;
    // Only the part of the range that lies on the device can be chosen.
    if (first < 0) {
        count += first;
        first = 0;
    }
    const auto total = static_cast<std::int64_t>(std::min<std::uint64_t>(deviceSectors, kInt64Max));
    if (count <= 0 || first >= total) return std::nullopt;
    const std::int64_t bytesPerSector = sectorSize != 0 ? sectorSize : 512;
    const std::int64_t end = std::min(LastOf(first, count), total - 1);

    RangeSelectorDialog dialog(ScanRange(total, bytesPerSector, first, count, first, end), parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.range();
}

}  // namespace brenvale::gui
