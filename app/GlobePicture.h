// The 101 x 101 picture in the corner of the main window: a cut-open globe
// with its nested spherical layers and a computation point on top.
#pragma once

#include <QImage>

namespace globelayers {

QImage MakeGlobePicture();  // 101 x 101, 24 bits per pixel

}  // namespace globelayers
