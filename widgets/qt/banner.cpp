#include "widgets/qt/banner.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <jpeglib.h>

#include "widgets/qt/resources.h"

namespace tertulia {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return; it jumps back to
// the decoder instead of ending the program.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    errors->base.format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings mean damaged data that libjpeg would fill in with grey; a picture of ours is whole,
// so they count as errors. Trace messages (level > 0) are ignored.
void JumpOnWarning(j_common_ptr info, int level) {
    if (level < 0) JumpOnError(info);
}

// The decoding proper, in plain C style so that nothing with a destructor lives across the
// jump. On success `pixels` holds width * height RGBX pixels, allocated with malloc.
struct DecodeJob {
    const unsigned char* data;
    unsigned long size;
    int width;
    int height;
    unsigned char* pixels;
    char message[JMSG_LENGTH_MAX];
};

bool RunDecode(DecodeJob* job) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JumpOnError;
    errors.base.emit_message = JumpOnWarning;
    job->pixels = nullptr;
    if (setjmp(errors.jump) != 0) {
        std::free(job->pixels);
        job->pixels = nullptr;
        std::snprintf(job->message, sizeof job->message, "%s", errors.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, job->data, job->size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBX;
    jpeg_start_decompress(&info);
    job->width = static_cast<int>(info.output_width);
    job->height = static_cast<int>(info.output_height);
    const std::size_t stride = static_cast<std::size_t>(job->width) * 4;
    job->pixels = static_cast<unsigned char*>(std::malloc(stride * info.output_height));
    if (job->pixels == nullptr) {
        jpeg_destroy_decompress(&info);
        std::snprintf(job->message, sizeof job->message, "out of memory");
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = job->pixels + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
    DecodeJob job{};
    job.data = reinterpret_cast<const unsigned char*>(bytes.constData());
    job.size = static_cast<unsigned long>(bytes.size());
    if (!RunDecode(&job)) {
        throw std::runtime_error(std::string("Cannot decode JPEG picture: ") + job.message);
    }
    QImage image(
        job.pixels, job.width, job.height, job.width * 4, QImage::Format_RGBX8888,
        [](void* pixels) { std::free(pixels); }, job.pixels);
    return image;
}

QImage LoadBanner() {
    return DecodeJpeg(BannerJpeg());
}

}  // namespace tertulia
