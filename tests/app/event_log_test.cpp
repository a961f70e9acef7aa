#include <gmock/gmock.h>

#include <regex>

#include "app/event_log.h"
#include "storage/device_events.h"
#include "support/temp_dir.h"

namespace brenvale::test {
namespace {

std::string ReadText(const std::string& path) {
    const auto bytes = ReadWholeFile(path);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(EventLog, SavesAHeaderAndOneTabSeparatedLinePerEntry) {
    TempDir tmp;
    app::EventLog log;
    log.AddEvent("Create Image", "Starting image \"a.dif\" (LBA 0, 8 sectors)");
    log.AddEvent("Drive I/O", "col1\tcol2");  // tabs are written as they are
    const auto file = tmp.file("x.log");
    ASSERT_TRUE(log.SaveEventLog(file));
    const std::string text = ReadText(file);
    const std::regex line(
        "Event\t\tTime\t\tDescription\r\n"
        "Create Image\t[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\tStarting image \"a.dif\" \\(LBA 0, 8 sectors\\)\r\n"
        "Drive I/O\t[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\tcol1\tcol2\r\n");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST(EventLog, EmptyLogWritesOnlyTheHeader) {
    TempDir tmp;
    app::EventLog log;
    ASSERT_TRUE(log.SaveEventLog(tmp.file("e.log")));
    EXPECT_EQ(ReadText(tmp.file("e.log")), "Event\t\tTime\t\tDescription\r\n");
    EXPECT_FALSE(log.SaveEventLog(tmp.file("missing/e.log")));
}

TEST(EventLog, DeviceMessagesArriveOnlyWhileTheSinkIsInstalled) {
    app::EventLog log;
    storage::OnDeviceEvent("before");
    log.AttachDeviceSink();
    storage::OnDeviceEvent("during");
    app::EventLog::DetachDeviceSink();
    storage::OnDeviceEvent("after");
    const auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Event, "Drive I/O");
    EXPECT_EQ(entries[0].Description, "during");
}

}  // namespace
}  // namespace brenvale::test
