#include "JpegImage.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace noggix
{
namespace
{

// libjpeg reports errors through error_exit, which must not return: it jumps back to the
// setjmp of the decoding step in progress. Warnings (corrupt or truncated data) jump too, so a
// damaged picture gives no picture at all.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void onError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

void onMessage(j_common_ptr info, int level)
{
    if (level < 0)
        onError(info);
}

void silent(j_common_ptr) {}

// Larger pictures are not ours; refusing them keeps a damaged header from asking for gigabytes.
constexpr JDIMENSION MaxSide = 8192;

// The decoding steps keep no C++ objects with destructors between setjmp and the libjpeg calls,
// since longjmp skips destructors.
bool readHeader(jpeg_decompress_struct *info, ErrorManager *errors, const QByteArray &data)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK)
        return false;
    info->out_color_space = info->jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_calc_output_dimensions(info);
    return true;
}

bool readPixels(jpeg_decompress_struct *info, ErrorManager *errors, uchar *bits,
                qsizetype bytesPerLine)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_start_decompress(info);
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = bits + qsizetype(info->output_scanline) * bytesPerLine;
        jpeg_read_scanlines(info, &row, 1);
    }
    jpeg_finish_decompress(info);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray &data)
{
    if (data.isEmpty())
        return {};

    jpeg_decompress_struct info = {};
    ErrorManager errors = {};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = onMessage;
    errors.base.output_message = silent;

    QImage image;
    if (readHeader(&info, &errors, data)) {
        const bool grey = info.out_color_space == JCS_GRAYSCALE;
        const int channels = grey ? 1 : 3;
        if (info.output_components == channels && info.output_width <= MaxSide &&
            info.output_height <= MaxSide) {
            image = QImage(int(info.output_width), int(info.output_height),
                           grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
            if (!image.isNull() && !readPixels(&info, &errors, image.bits(), image.bytesPerLine()))
                image = QImage();
        }
    }
    jpeg_destroy_decompress(&info); // safe on a zeroed struct too
    return image;
}

} // namespace noggix
