#include "health/attribute_names.h"

#include <algorithm>
#include <array>

namespace brenvale::health {

namespace {

struct AttributeText {
    std::uint8_t id;
    const char* name;
    const char* description;
};

// Sorted by ID.
constexpr AttributeText kAttributes[] = {
    {0, "No Attribute Here       ", "An unused attribute slot."},
    {1, "Raw Read Error Rate     ", "Rate of hardware read errors that occurred when reading data from the disk surface. A lower normalised value means more errors."},
    {2, "Throughput Performance  ", "Overall throughput performance of the drive. A decreasing value points to a problem developing in the drive."},
    {3, "Spin Up Time            ", "Average time the spindle needs to spin up from zero to full speed."},
    {4, "Start/Stop Count        ", "Count of spindle start and stop cycles."},
    {5, "Reallocated Sector Count", "Indicates how many defective sectors were discovered on the drive and remapped using a reserved sectors pool. A decrease of this value is a dangerous sign, it means some new surface problems have been found."},
    {6, "Read Channel Margin     ", "Margin of the read channel when reading data."},
    {7, "Seek Error Rate         ", "Rate of seek errors of the magnetic heads. A growing count points to a failing mechanism or an overheating drive."},
    {8, "Seek Time Performance   ", "Average performance of the heads' seek operations. A decrease points to a mechanical problem."},
    {9, "Power On Hours Count    ", "The raw data of this attribute shows the count of hours(or minutes, or seconds - it depends on disk manufacturer) in power on state."},
    {10, "Spin Retry Count        ", "Count of retries of spin-up attempts that did not reach full speed at the first try. A growing count points to a mechanical problem."},
    {11, "Calibration Retry Count ", "Count of recalibrations that did not succeed at the first attempt."},
    {12, "Power Cycle Count       ", "Count of full power on and off cycles of the drive."},
    {13, "Soft Read Error Rate", "Rate of uncorrected read errors reported to the operating system."},
    {16, "Current Helium Level", "Helium level inside a sealed drive. A drop means the seal is leaking."},
    {17, "Available Reserved Space", "Reserved space left for replacing worn-out blocks."},
    {18, "Program Fail Count", "Count of failed flash program operations."},
    {19, "Erase Fail Count", "Count of failed flash erase operations."},
    {20, "Unexpected Power Loss Count", "Count of times the power was lost without an orderly shut-down."},
    {21, "Unexpected Power Loss Count", "Count of times the power was lost without an orderly shut-down."},
    {160, "Media and Data Integrity Errors", "Count of unrecovered data integrity errors."},
    {161, "Error Information Log Entries", "Count of entries in the drive's error information log."},
    {162, "Warning Composite Temperature Time", "Minutes spent above the warning temperature."},
    {163, "Critical Composite Temperature Time", "Minutes spent above the critical temperature."},
    {164, "Temperature Sensor 1", "Temperature reported by the first sensor."},
    {165, "Temperature Sensor 2", "Temperature reported by the second sensor."},
    {168, "SATA Phy Error Count", "Count of errors on the SATA physical link."},
    {169, "Bad Block Count", "Count of bad flash blocks."},
    {170, "Available Reserved Space", "Reserved flash blocks still available for replacing bad ones."},
    {171, "Program Fail Count", "Count of failed flash program operations."},
    {172, "Erase Fail Count", "Count of failed flash erase operations."},
    {173, "Wear Leveling Count", "Erase cycles of the flash cells, averaged by the wear-levelling logic."},
    {174, "Unexpected Power Loss Count", "Count of times the power was lost without an orderly shut-down."},
    {175, "Program Fail Count (Chip)", "Count of failed flash program operations on the worst chip."},
    {176, "Erase Fail Count (Chip)", "Count of failed flash erase operations on the worst chip."},
    {177, "Wear Range Delta", "Difference between the most and the least worn flash blocks."},
    {178, "Used Reserved Block Count (Chip)", "Reserved blocks used on the worst chip."},
    {179, "Used Reserved Block Count (Total)", "Reserved blocks used on the whole drive."},
    {180, "Unused Reserved Block Count (Total)", "Reserved blocks still unused on the whole drive."},
    {181, "Program Fail Count (Total)", "Count of failed flash program operations on the whole drive."},
    {182, "Erase Fail Count (Total)", "Count of failed flash erase operations on the whole drive."},
    {183, "Runtime Bad Block", "Count of blocks found bad while the drive was running."},
    {184, "End-to-End Error", "Count of parity errors in the data path between the host and the media, through the drive's cache."},
    {185, "Head Stability", "Stability of the magnetic heads."},
    {186, "Induced Op-Vibration Detection", "Vibration induced while the drive is working."},
    {187, "Reported Uncorrectable Errors", "Count of errors that could not be recovered using hardware error correction."},
    {188, "Command Timeout", "Count of commands aborted because the drive did not finish them in time, usually through power or cable problems."},
    {189, "High Fly Writes", "Count of writes made while the head flew outside its normal height."},
    {190, "Airflow Temperature", "Temperature of the air flowing through the drive."},
    {191, "G-Sense Error Rate", "Count of errors caused by external shocks and vibration."},
    {192, "Power-Off Retract Count", "Count of emergency head retracts caused by a loss of power."},
    {193, "Load/Unload Cycle Count", "Count of head load and unload cycles into the landing zone."},
    {194, "Temperature             ", "Temperature of a drive."},
    {195, "Hardware ECC Recovered", "Count of errors corrected by the drive's hardware error correction."},
    {196, "Reallocated Event Count ", "Count of remapping operations, successful or not, of sectors to the reserve area."},
    {197, "Current Pending Sector Count", "Count of unstable sectors waiting to be remapped. A non-zero value means the drive has sectors it cannot read reliably."},
    {198, "Offline Scan Uncorrectable Sector Count", "Count of uncorrectable errors found by the drive's off-line surface scan."},
    {199, "UDMA CRC Error Count    ", "Count of errors in data transfers over the interface cable, usually a bad cable or connector."},
    {200, "Write Error Count       ", "Count of errors found while writing sectors."},
    {201, "Soft Read Error Rate", "Count of off-track read errors."},
    {202, "Data Address Mark Errors", "Count of data address mark errors."},
    {203, "Run Out Cancel", "Count of errors in error correction code checks."},
    {204, "Soft ECC Correction", "Count of errors corrected by software error correction."},
    {205, "Thermal Asperity Rate", "Count of errors caused by high temperature of the head."},
    {206, "Flying Height", "Height of the heads above the disk surface."},
    {207, "Spin High Current", "Amount of surge current used to spin up the drive."},
    {208, "Spin Buzz", "Count of buzz routines needed to spin up the drive."},
    {209, "Offline Seek Performance", "Seek performance measured during off-line tests."},
    {210, "Vibration During Write", "Vibration detected while writing."},
    {211, "Vibration During Read", "Vibration detected while reading."},
    {212, "Shock During Write", "Shocks detected while writing."},
    {213, "Shock During Read", "Shocks detected while reading."},
    {220, "Disk Shift", "Distance the disk stack has shifted relative to the spindle, usually after a shock."},
    {221, "G-Sense Error Rate", "Count of errors caused by external shocks and vibration."},
    {222, "Loaded Hours", "Time spent with the heads loaded over the surface."},
    {223, "Load/Unload Retry Count", "Count of retried head loads."},
    {224, "Load Friction", "Friction of the mechanical parts while loading the heads."},
    {225, "Load/Unload Cycle Count", "Count of head load cycles."},
    {226, "Load-in Time", "Time the heads need to load."},
    {227, "Torque Amplification Count", "Count of attempts to compensate for a change of platter speed."},
    {228, "Power-Off Retract Count", "Count of head retracts at power-off."},
    {230, "GMR Head Amplitude", "Amplitude of head movement; on flash drives, the drive life protection status."},
    {231, "Temperature", "Temperature of a drive; on flash drives, the remaining life."},
    {232, "Endurance Remaining", "Remaining endurance of the flash cells, as a percentage of their rated life."},
    {233, "Media Wearout Indicator", "Wear of the flash media; the normalised value falls from 100 as the cells wear."},
    {234, "Average Erase Count", "Average erase count of the flash blocks."},
    {235, "Good Block Count", "Count of good flash blocks, or of the blocks in the free pool."},
    {240, "Head Flying Hours", "Time spent positioning the heads."},
    {241, "Read Error Retry Rate", "Count of errors while reading; on flash drives, the total of data written."},
    {242, "Total LBAs Read", "Total number of LBAs read over the lifetime of the drive."},
    {243, "Total LBAs Written (Expanded)", "Expanded total number of LBAs written over the lifetime of the drive, used when the count exceeds the 32-bit range."},
    {249, "NAND Writes (GiB)", "Total data written to the flash cells, in GiB."},
    {250, "Read Error Retry Rate", "Count of errors while reading from the disk."},
    {251, "Minimum Spares Remaining", "Remaining spare blocks as a percentage of the total."},
    {252, "Newly Added Bad Flash Block", "Count of flash blocks found bad since the drive left the factory."},
    {253, "Free Fall Protection", "Count of times the free-fall sensor parked the heads."},
    {254, "Free Fall Protection", "Count of times the free-fall sensor parked the heads."},
};
static_assert(std::size(kAttributes) == 97);

const AttributeText* find(std::uint8_t id) {
    const auto* it = std::lower_bound(std::begin(kAttributes), std::end(kAttributes), id,
                                      [](const AttributeText& a, std::uint8_t v) { return a.id < v; });
    return it != std::end(kAttributes) && it->id == id ? it : nullptr;
}

}  // namespace

std::string_view AttributeName(std::uint8_t id) {
    const AttributeText* a = find(id);
    return a ? a->name : kUnknownAttribute;
}

std::string_view AttributeDescription(std::uint8_t id) {
    const AttributeText* a = find(id);
    return a ? a->description : kUnknownAttribute;
}

std::string TrimmedName(std::uint8_t id) {
    std::string_view n = AttributeName(id);
    while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
    return std::string(n);
}

}  // namespace brenvale::health
