#pragma once

#include <QByteArray>
#include <QImage>

namespace kv {

// Decodes a baseline or progressive JPEG held in memory into an RGB image with libjpeg, without Qt's
// image plugins (which a deployment may lack). Data that libjpeg cannot decode cleanly, a truncated
// file included, raises kv::Error instead of giving a picture that is partly grey.
QImage DecodeJpeg(const QByteArray& data);

} // namespace kv
