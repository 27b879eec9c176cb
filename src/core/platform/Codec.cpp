#include "core/platform/Codec.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace kv {

namespace {
constexpr const char* kCodecName = "windows-1251";
}

QString FromCp1251(QByteArrayView bytes)
{
    // Opening the codec is far dearer than decoding one short field, and the database readers
    // decode millions of them; the code page keeps no state between calls, so one per thread serves.
    thread_local QStringDecoder decoder(kCodecName);
    Q_ASSERT(decoder.isValid());
    decoder.resetState();
    return decoder.decode(bytes);
}

QByteArray ToCp1251(const QString& text)
{
    thread_local QStringEncoder encoder(kCodecName, QStringConverter::Flag::Default);
    Q_ASSERT(encoder.isValid());
    encoder.resetState();
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
