#pragma once
// The pictures of the windows by resource number, drawn from vector drawings compiled into the program.

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace kestrel {

// The picture's nominal size in device-independent pixels (109x86 printer pictures, 155x11 level bars,
// 107x83 / 73x83 cartridges, 16x16 or 32x32 icons, 151x125 guide steps); an invalid size when the number
// names no picture.
QSize pictureSize(int number);

// The picture drawn at its nominal size for a screen of `devicePixelRatio` (crisp at any scale; the
// pixmap carries the ratio). A null pixmap when the number names no picture.
QPixmap picture(int number, qreal devicePixelRatio = 1.0);

// An icon (100, 128, 130, 131, 137..147, 700..703, 710, 711, 720..722, 57667, and the list's toolbar icons
// 500..505) with its 16x16 and 32x32 forms; a null icon otherwise.
QIcon icon(int number);

}  // namespace kestrel
