#include "app/lost_files_by_type.h"

#include <fmt/format.h>

#include <algorithm>

#include "app/file_type_options.h"

namespace brenvale::app {

std::string LostFileExtensionOf(const TreeNode& child) {
    const auto open = child.Text.rfind("(*.");
    if (open == std::string::npos || child.Text.empty() || child.Text.back() != ')') return {};
    return child.Text.substr(open + 3, child.Text.size() - open - 4);
}

void LostFilesByType::Sync(TreeNode& node, const std::vector<std::string>& extensions) {
    auto& kids = node.Children;
    for (auto it = kids.begin(); it != kids.end();) {
        const std::string ext = LostFileExtensionOf(**it);
        if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) {
            FLists.erase(it->get());
            it = kids.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& ext : extensions) {
        const bool present = std::any_of(kids.begin(), kids.end(), [&](const auto& c) { return LostFileExtensionOf(*c) == ext; });
        if (!present) node.AddChild(NodeKind::FileType, ExtensionEntryText(ext));
    }
}

void LostFilesByType::Fill(TreeNode& node, scan::TUndelete& scan, UserInterface& ui) {
    FScan = &scan;
    FLists.clear();
    const std::size_t total = node.Children.size();
    for (std::size_t i = 0; i < total; ++i) {
        ui.Pump();
        const TreeNode* child = node.Children[i].get();
        const std::string ext = LostFileExtensionOf(*child);
        ui.StatusText(fmt::format(kPreparingFileListFormat, ext));
        auto& list = FLists[child];
        scan.FindFiles("*." + ext, false, 0, 0, 0, -1, -1, nullptr, true, true, list);
        const int percent = static_cast<int>((i + 1) * 100 / total);
        ui.Progress(percent);
    }
    ui.StatusText({});
    ui.Progress(0);
}

const std::vector<scan::TScanEntry*>& LostFilesByType::Entries(const TreeNode* child) const {
    static const std::vector<scan::TScanEntry*> none;
    const auto it = FLists.find(child);
    return it == FLists.end() ? none : it->second;
}

void LostFilesByType::Forget() {
    FScan = nullptr;
    FLists.clear();
}

}  // namespace brenvale::app
