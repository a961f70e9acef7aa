#include "health/page_files.h"

#include <array>
#include <fstream>
#include <sstream>

namespace brenvale::health {

namespace {

constexpr char kDriveFile[] = "drive.txt";
// No page is larger than an identify controller page; anything bigger is not ours.
constexpr std::uintmax_t kMaxPageFile = 4096;

struct PageFile {
    const char* name;
    std::vector<std::byte> DrivePages::*member;
};
constexpr std::array<PageFile, 5> kPageFiles{{
    {"identify.bin", &DrivePages::Identify},
    {"smart-data.bin", &DrivePages::SmartData},
    {"smart-thresholds.bin", &DrivePages::SmartThresholds},
    {"nvme-identify.bin", &DrivePages::NvmeIdentify},
    {"nvme-health.bin", &DrivePages::NvmeHealth},
}};

constexpr std::array<std::pair<platform::DriveKind, const char*>, 5> kKinds{{
    {platform::DriveKind::Ata, "ata"},
    {platform::DriveKind::Nvme, "nvme"},
    {platform::DriveKind::Optical, "optical"},
    {platform::DriveKind::Image, "image"},
    {platform::DriveKind::Other, "other"},
}};
constexpr std::array<std::pair<ReadState, const char*>, 4> kStates{{
    {ReadState::Read, "read"},
    {ReadState::CannotOpen, "cannot-open"},
    {ReadState::NotApplicable, "not-applicable"},
    {ReadState::NotAvailable, "not-available"},
}};

template <class T, std::size_t N>
const char* nameOf(const std::array<std::pair<T, const char*>, N>& table, T v) {
    for (const auto& [value, name] : table) {
        if (value == v) return name;
    }
    return "";
}

template <class T, std::size_t N>
std::optional<T> valueOf(const std::array<std::pair<T, const char*>, N>& table, const std::string& name) {
    for (const auto& [value, n] : table) {
        if (name == n) return value;
    }
    return std::nullopt;
}

bool writeFile(const std::filesystem::path& file, const std::vector<std::byte>& data) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

std::vector<std::byte> readFile(const std::filesystem::path& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxPageFile) return {};
    std::vector<std::byte> data(static_cast<std::size_t>(size));
    std::ifstream in(file, std::ios::binary);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (in.gcount() != static_cast<std::streamsize>(data.size())) return {};
    return data;
}

// One line per "key value"; the detail may hold blanks.
std::string lineValue(const std::string& line, const std::string& key) {
    if (line.rfind(key + " ", 0) != 0) return {};
    return line.substr(key.size() + 1);
}

}  // namespace

bool SavePages(const DrivePages& pages, const std::filesystem::path& dir, const std::string& device) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return false;
    {
        std::ofstream out(dir / kDriveFile, std::ios::trunc);
        out << "device " << device << '\n'
            << "kind " << nameOf(kKinds, pages.Kind) << '\n'
            << "state " << nameOf(kStates, pages.State) << '\n'
            << "predict " << pages.Predict << '\n'
            << "detail " << pages.Detail << '\n';
        if (!out) return false;
    }
    for (const PageFile& f : kPageFiles) {
        const std::filesystem::path file = dir / f.name;
        if ((pages.*f.member).empty()) {
            std::filesystem::remove(file, ec);
        } else if (!writeFile(file, pages.*f.member)) {
            return false;
        }
    }
    return true;
}

std::optional<SavedDrive> LoadPages(const std::filesystem::path& dir) {
    std::ifstream in(dir / kDriveFile);
    if (!in) return std::nullopt;
    SavedDrive d;
    std::string line;
    while (std::getline(in, line)) {
        if (auto v = lineValue(line, "device"); !v.empty()) d.Device = v;
        if (auto v = valueOf(kKinds, lineValue(line, "kind"))) d.Pages.Kind = *v;
        if (auto v = valueOf(kStates, lineValue(line, "state"))) d.Pages.State = *v;
        if (auto v = lineValue(line, "detail"); !v.empty()) d.Pages.Detail = v;
        if (auto v = lineValue(line, "predict"); !v.empty()) {
            d.Pages.Predict = v == "1" ? 1 : v == "0" ? 0 : -1;
        }
    }
    for (const PageFile& f : kPageFiles) d.Pages.*f.member = readFile(dir / f.name);
    return d;
}

}  // namespace brenvale::health
