#include "platform/Codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kv {

namespace {
constexpr const char* kCodecName = "windows-1251";
}

QString FromCp1251(QByteArrayView bytes)
{
    QStringDecoder decoder(kCodecName);
    Q_ASSERT(decoder.isValid());
    return decoder.decode(bytes);
}

QByteArray ToCp1251(const QString& text)
{
    QStringEncoder encoder(kCodecName, QStringConverter::Flag::Default);
    Q_ASSERT(encoder.isValid());
    QByteArray bytes = encoder.encode(text);
    return bytes;
}

} // namespace kv
