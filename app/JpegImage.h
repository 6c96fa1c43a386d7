#pragma once

// Baseline JPEG decoding through libjpeg, for the picture of the "Get ready!" dialog.

#include <QByteArray>
#include <QImage>

namespace noggix
{

// Decodes the JPEG data into an RGB888 image (Grayscale8 for a grey picture). Returns a null
// image when the data is damaged in any way libjpeg notices (errors and warnings alike, such as
// a truncated stream); never crashes and prints nothing.
QImage decodeJpeg(const QByteArray &data);

} // namespace noggix
