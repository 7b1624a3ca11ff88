#pragma once

#include <QPixmap>

namespace sonvera {

/// The picture of the language menu item: the German flag beside the British flag,
/// 50 by 14 pixels, drawn at run time.
QPixmap DrawLanguageFlags();

}  // namespace sonvera
