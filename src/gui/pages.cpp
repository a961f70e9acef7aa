#include "gui/pages.h"

#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

namespace brenvale::gui {

PropertiesPage::PropertiesPage(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    setHeaderLabels({"Field", "Value"});
    header()->resizeSection(0, 150);
    header()->resizeSection(1, 350);
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
}

void PropertiesPage::showRows(const std::vector<app::PropertyRow>& rows) {
    clear();
    QList<QTreeWidgetItem*> items;
    for (const auto& r : rows) {
        items << new QTreeWidgetItem(QStringList{QString::fromStdString(r.Field), QString::fromStdString(r.Value)});
    }
    addTopLevelItems(items);
}

EventLogPage::EventLogPage(const app::EventLog& log, QWidget* parent) : QWidget(parent), log_(log) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* save = new QPushButton("Save to file", this);
    save->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(save, &QPushButton::clicked, this, &EventLogPage::saveRequested);
    layout->addWidget(save);
    list_ = new QTreeWidget(this);
    list_->setColumnCount(3);
    list_->setHeaderLabels({"Event", "Time", "Description"});
    list_->header()->resizeSection(0, 100);
    list_->header()->resizeSection(1, 80);
    list_->header()->resizeSection(2, 400);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    layout->addWidget(list_);
}

void EventLogPage::refresh() {
    if (log_.Count() <= shown_) return;
    const auto entries = log_.Entries();
    QList<QTreeWidgetItem*> items;
    for (std::size_t i = shown_; i < entries.size(); ++i) {
        const auto& e = entries[i];
        items << new QTreeWidgetItem(QStringList{QString::fromStdString(e.Event), QString::fromStdString(e.Time),
                                                 QString::fromStdString(e.Description)});
    }
    list_->addTopLevelItems(items);
    shown_ = entries.size();
    list_->scrollToBottom();
}

}  // namespace brenvale::gui
