#pragma once
// "Range Selector": two sliders that narrow a stretch of sectors within a partition or disk,
// and the arithmetic behind them, which needs no widgets.

#include <cstdint>
#include <optional>
#include <string>

#include <QDialog>

#include "app/user_interface.h"

class QLabel;
class QPushButton;
class QSlider;

namespace brenvale::gui {

// A byte count as the range window shows it: divided by 1024 while it is at least 1024, at most
// four times, with two decimals and the unit ("0.00 B", "1.50 KB", ..., "1024.00 TB").
std::string RangeSizeText(double bytes);

// The sliders' model. The bars count ticks of 1 MiB (at least one sector each) from the start
// of the partition; sectors are absolute.
class ScanRange {
public:
    static constexpr std::int64_t kTickBytes = 1048576;
    static constexpr std::int64_t kMaxTick = 2147483647;

    // The proposed start and end are clamped into the partition and the device, the end not
    // below the start. A bytesPerSector of 0 is taken as one sector per tick.
    ScanRange(std::int64_t totalSectors, std::int64_t bytesPerSector, std::int64_t partiStart,
              std::int64_t partiCount, std::int64_t startSector, std::int64_t endSector);

    std::int64_t sectorsPerTick() const { return FSectorsPerTick; }
    // The last sector that may be chosen.
    std::int64_t lastSector() const { return FLast; }
    std::int64_t startSector() const { return FStartSector; }
    std::int64_t endSector() const { return FEndSector; }
    int maxTick() const { return FMaxTick; }
    int startTick() const { return FStartTick; }
    int endTick() const { return FEndTick; }

    // The start bar moved to `tick`: the start sector follows, and the end bar is pulled
    // along when it is below.
    void moveStart(int tick);
    // The end bar moved to `tick`: the end sector is the tick's last sector (at most the last
    // one); the start bar is pushed back when it is above.
    void moveEnd(int tick);

    // "Start: sector 2048/1.00 MB", "End: sector ...", "Scan range: 1.00 MB (2048 sectors)".
    std::string startText() const;
    std::string endText() const;
    std::string rangeText() const;

    // The chosen stretch: {start, end - start + 1}.
    app::SectorRange range() const { return {FStartSector, FEndSector - FStartSector + 1}; }

private:
    int clampTick(int tick) const;

    std::int64_t FBytesPerSector;
    std::int64_t FPartiStart;
    std::int64_t FSectorsPerTick;
    std::int64_t FLast;
    std::int64_t FStartSector;
    std::int64_t FEndSector;
    int FMaxTick;
    int FStartTick;
    int FEndTick;
};

class RangeSelectorDialog : public QDialog {
    Q_OBJECT
public:
    RangeSelectorDialog(const ScanRange& range, QWidget* parent = nullptr);

    const ScanRange& scanRange() const { return FRange; }
    app::SectorRange range() const { return FRange.range(); }

    QSlider* startSlider() const { return FStartBar; }
    QSlider* endSlider() const { return FEndBar; }
    QLabel* startLabel() const { return FStartLabel; }
    QLabel* endLabel() const { return FEndLabel; }
    QLabel* rangeLabel() const { return FRangeLabel; }
    QPushButton* okButton() const { return FOk; }
    QPushButton* cancelButton() const { return FCancel; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Puts the model's ticks on the bars and its texts on the labels.
    void refresh();

    ScanRange FRange;
    bool FUpdating = false;  // set while refresh() moves the bars, whose change signals then wait
    QSlider* FStartBar = nullptr;
    QSlider* FEndBar = nullptr;
    QLabel* FStartLabel = nullptr;
    QLabel* FEndLabel = nullptr;
    QLabel* FRangeLabel = nullptr;
    QPushButton* FOk = nullptr;
    QPushButton* FCancel = nullptr;
};

// Lets the user narrow `proposed` within a device of `deviceSectors` sectors of `sectorSize`
// bytes (512 when 0). The chosen {first, count}; nullopt on "Cancel", for a device without
// sectors, and for a proposed range that is empty or lies beyond the device.
std::optional<app::SectorRange> ChooseRange(QWidget* parent, const app::SectorRange& proposed,
                                            std::uint32_t sectorSize, std::uint64_t deviceSectors);

}  // namespace brenvale::gui
