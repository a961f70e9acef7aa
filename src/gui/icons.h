#pragma once
// The drawn pictures of the drive tree and the file list (app/kind_icons.h says which one a
// node or row shows) and the program's logo.

#include <QIcon>
#include <QPixmap>

#include "app/kind_icons.h"

namespace brenvale::gui {

// The picture, with 16 and 32 pixel images; a null icon for a value outside the enumeration.
// Drawn once and kept for the rest of the run.
QIcon IconImage(app::Icon icon);

// The program's logo at `size` x `size` pixels (window icon, splash); null for a size below 1.
QPixmap AppLogo(int size);

}  // namespace brenvale::gui
