#include "platform/Codec.h"

#include <QList>
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
    if (!bytes.contains('\x1a'))
        return bytes;
    // ICU marks an unmappable character with SUB; the program has always written '?' instead.
    // Encode code point by code point so a genuine U+001A keeps its byte.
    bytes.clear();
    for (const uint code : text.toUcs4()) {
        const char32_t ucs = code;
        const QString one = QString::fromUcs4(&ucs, 1);
        QStringEncoder single(kCodecName);
        const QByteArray b = single.encode(one);
        bytes.append((b == "\x1a" && ucs != 0x1a) ? QByteArray("?") : b);
    }
    return bytes;
}

} // namespace kv
