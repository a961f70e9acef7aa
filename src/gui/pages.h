#pragma once
// The pages under the file list: "Properties" (field and value of the selected item),
// "Preview" and "Event Log" (what long operations did, with "Save to file").

#include <QTreeWidget>
#include <QWidget>

#include <vector>

#include "app/event_log.h"
#include "app/properties.h"

namespace brenvale::gui {

inline constexpr char kEventLogFilter[] = "Event Log (*.log)|*.log";

class PropertiesPage : public QTreeWidget {
    Q_OBJECT
public:
    explicit PropertiesPage(QWidget* parent = nullptr);
    void showRows(const std::vector<app::PropertyRow>& rows);
};

class EventLogPage : public QWidget {
    Q_OBJECT
public:
    EventLogPage(const app::EventLog& log, QWidget* parent = nullptr);
    // Appends the entries added since the last call.
    void refresh();
    QTreeWidget* list() const { return list_; }

signals:
    // "Save to file" was clicked; the window asks for the file.
    void saveRequested();

private:
    const app::EventLog& log_;
    QTreeWidget* list_;
    std::size_t shown_ = 0;
};

}  // namespace brenvale::gui
