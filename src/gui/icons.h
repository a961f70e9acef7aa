#pragma once
// The icons of the drive tree and the file list (one per node or row kind, the indexes of
// app/tree_node.h) and the program's logo.

#include <QIcon>
#include <QPixmap>

namespace brenvale::gui {

// How many kinds have an icon: 0 (computer) to 18 (file type).
inline constexpr int kKindIconCount = 19;

// The icon of a node or row kind, with 16 and 32 pixel images; a null icon for an index
// outside 0..18. Drawn once and kept for the rest of the run.
QIcon KindIcon(int imageIndex);

// The program's logo at `size` x `size` pixels (window icon, splash); null for a size below 1.
QPixmap AppLogo(int size);

}  // namespace brenvale::gui
