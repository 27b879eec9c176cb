#include "gui/platform/Jpeg.h"

#include "core/platform/Errors.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace kv {

namespace {

// libjpeg reports errors through callbacks that must not return; the handler jumps back to the
// decoding function instead of letting the library exit the process.
struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JumpOut(j_common_ptr cinfo)
{
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings (level -1) mean damaged data, such as a file that ends too early; trace messages are dropped.
void EmitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        JumpOut(cinfo);
}

// Only C frames lie between setjmp and longjmp here, and nothing with a destructor is created or
// changed in this frame after setjmp, so the jump skips no clean-up.
bool Decode(const QByteArray& data, QImage& image, ErrorManager& errors)
{
    jpeg_decompress_struct cinfo;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JumpOut;
    errors.pub.emit_message = EmitMessage;
    errors.message[0] = '\0';
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), QImage::Format_RGB888);
    if (image.isNull() || cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data)
{
    if (data.isEmpty())
        throw Error(QStringLiteral("Рисунок JPEG пуст"));
    QImage image;
    ErrorManager errors;
    if (!Decode(data, image, errors))
        throw Error(
            QStringLiteral("Не удалось прочитать рисунок JPEG: %1").arg(QString::fromLocal8Bit(errors.message)));
    return image;
}

} // namespace kv
