#pragma once

#include <QPixmap>

namespace sonvera {

/// The picture of the language menu item: the German flag beside the British flag, each
/// 27 by 18 pixels with 4 pixels between them, drawn at run time.
QPixmap DrawLanguageFlags();

}  // namespace sonvera
