#include "health/drive_health.h"

#include <fmt/format.h>

#include "health/attribute_names.h"
#include "health/nvme_health.h"

namespace brenvale::health {

namespace {

constexpr std::uint8_t kPowerCycleId = 12, kPowerOnHoursId = 9, kTemperatureId = 194;

constexpr const char* kReportedPrefix = " S.M.A.R.T reported ";
constexpr const char* kLevelSentences[] = {
    "good status.",
    "some attributes are closing to their threshold, please backup your important data.",
    "this HDD is in dangerous, you should consider to replace this HDD.",
};
constexpr char kPredictSentence[] = " The drive itself reports an impending failure.";

std::string trimmedRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

HealthRow ataRow(const SmartAttribute& a) {
    const AttributeState st = AttributeStatus(a.Id, a.Value, a.Raw, a.Threshold);
    HealthRow r;
    r.Name = std::string(AttributeName(a.Id));
    r.Id = fmt::format("{:02X}", a.Id);
    r.Worst = std::to_string(a.Worst);
    r.Value = std::to_string(a.Value);
    r.Threshold = std::to_string(a.Threshold);
    r.Raw = fmt::format("{:012X}", a.Raw);
    r.Meaning = MeaningText(a.Id, a.Raw);
    r.Status = std::string(st.Text);
    r.Level = st.Level;
    r.Description = std::string(AttributeDescription(a.Id));
    return r;
}

void ataRows(const DrivePages& pages, HealthReport& report) {
    const auto attributes = ParseSmartPages(pages.SmartData, pages.SmartThresholds);
    if (!attributes) return;
    for (const SmartAttribute& a : *attributes) {
        report.Rows.push_back(ataRow(a));
        const std::string meaning = report.Rows.back().Meaning;
        if (a.Id == kPowerCycleId) report.PowerCycles = meaning;
        if (a.Id == kPowerOnHoursId) report.PowerOnHours = meaning;
        if (a.Id == kTemperatureId) report.Temperature = meaning;
    }
}

}  // namespace

HealthReport Evaluate(const DrivePages& pages) {
    HealthReport report;
    if (pages.Kind == platform::DriveKind::Nvme) {
        if (auto id = ParseNvmeIdentify(pages.NvmeIdentify)) report.Identity = *id;
        if (auto rows = NvmeHealthRows(pages.NvmeHealth, report)) report.Rows = std::move(*rows);
    } else {
        if (auto id = ParseIdentify(pages.Identify)) report.Identity = *id;
        ataRows(pages, report);
    }
    if (report.Rows.empty()) return report;
    report.Level = kLevelNormal;
    for (const HealthRow& r : report.Rows) {
        if (r.Level > report.Level) {
            report.Level = r.Level;
            report.WorstName = trimmedRight(r.Name);
        }
    }
    report.Predict = pages.Predict;
    if (pages.Predict == 1) {
        report.Level = kLevelDangerous;
        report.WorstName = kPredictedFailureName;
    }
    return report;
}

int DriveHealth(const DrivePages& pages, std::string& name) {
    const HealthReport r = Evaluate(pages);
    name = r.WorstName;
    return r.Level;
}

std::string StatusSentence(const HealthReport& report) {
    if (report.Level < kLevelNormal || report.Level > kLevelDangerous) return {};
    std::string s = std::string(kReportedPrefix) + kLevelSentences[report.Level];
    if (report.Predict == 1) s += kPredictSentence;
    return s;
}

std::string EmptyStatusSentence(const DrivePages& pages) {
    return pages.State == ReadState::CannotOpen ? kCannotOpenText : kNoAttributesText;
}

}  // namespace brenvale::health
