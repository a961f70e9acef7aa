#pragma once
// Finding nodes of the window's tree by their text, and the digest of a written file: what the
// tests of the window's logic look at.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/tree_node.h"
#include "support/file_digest.h"

namespace brenvale::test {

// The child of `node` with the text; a failure when there is none.
inline app::TreeNode* Child(app::TreeNode* node, const std::string& text) {
    if (!node) return nullptr;
    for (const auto& c : node->Children) {
        if (c->Text == text) return c.get();
    }
    ADD_FAILURE() << "no child \"" << text << "\" under \"" << node->Text << "\"";
    return nullptr;
}

inline std::vector<std::string> Texts(const app::TreeNode* node) {
    std::vector<std::string> out;
    for (const auto& c : node->Children) out.push_back(c->Text);
    return out;
}

inline std::string FileSha(const std::filesystem::path& p) { return fileSha256Hex(p); }

}  // namespace brenvale::test
