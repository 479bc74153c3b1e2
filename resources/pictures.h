#pragma once
// The pictures of the windows by resource number, drawn from vector drawings compiled into the program.

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace kestrel {

// The picture's nominal size in device-independent pixels (109x86 printer pictures, 155x11 level bars,
// 107x83 / 73x83 cartridges, 16x16 or 32x32 icons, 151x125 guide steps, and the settings page's pictures
// below); an invalid size when the number names no picture.
//
// The settings page's pictures:
//   112       32x16  the alert list's check marks, two 16x16 images side by side: off, on
//   113       32x32  the tray icon chooser's picture: the taskbar's tray with the printer's icon in it
//   114       32x16  the test buttons' faces, two 16x16 images side by side: play, stop
//   300..311  32x32  a wave file's format, 300 + code: code 0 for one channel, 6 for more; + 4 for a
//                    sample rate above 22050, + 2 for exactly 22050; + 1 for more than 8 bits per sample.
//                    One speaker or two, one to three rate bars, an "8" or "16" badge.
//   312       32x32  no sound file
// The tray icons 800..826 (16x16) are 800 + 3 x set + level: nine sets (0..8) of a normal (0), a warning
// (1, amber badge) and an error (2, red badge) icon.
QSize pictureSize(int number);

// The picture drawn at its nominal size for a screen of `devicePixelRatio` (crisp at any scale; the
// pixmap carries the ratio). A null pixmap when the number names no picture.
QPixmap picture(int number, qreal devicePixelRatio = 1.0);

// An icon (100, 128, 130, 131, 137..147, 700..703, 710, 711, 720..725, 57667, the tray icons 800..826, and
// the list's toolbar icons 500..505) with its 16x16 and 32x32 forms; a null icon otherwise.
QIcon icon(int number);

}  // namespace kestrel
