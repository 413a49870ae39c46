// The about window's picture, drawn by the program itself: a pager receiving
// a call.
#pragma once

#include <QPixmap>

namespace zelvano {

QPixmap DrawAboutPicture(int width, int height);

}  // namespace zelvano
