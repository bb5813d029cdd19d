#include "platform/JpegEncoder.h"

#include "platform/JpegFailure.h"

#include <cstdlib>
#include <memory>

namespace velloq::platform {

namespace {

struct MemoryDestination {
    unsigned char* buffer { nullptr };
    unsigned long size { 0 };
    ~MemoryDestination() { std::free(buffer); }
};

struct Compressor {
    jpeg_compress_struct info {};
    ~Compressor() { jpeg_destroy_compress(&info); }
};

}

std::optional<std::string> encode_jpeg(RgbPicture const& picture, int quality, std::string& error)
{
    if (picture.width <= 0 || picture.height <= 0 || picture.rgb.size() < static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3) {
        error = "the picture has no pixels";
        return std::nullopt;
    }
    JpegFailure failure;
    // Declared before the jump point: what longjmp skips back over is destroyed as usual after it.
    auto compressor = std::make_unique<Compressor>();
    auto destination = std::make_unique<MemoryDestination>();
    compressor->info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpeg_failed;
    if (setjmp(failure.jump)) {
        error = failure.message;
        return std::nullopt;
    }
    jpeg_create_compress(&compressor->info);
    jpeg_mem_dest(&compressor->info, &destination->buffer, &destination->size);
    compressor->info.image_width = static_cast<JDIMENSION>(picture.width);
    compressor->info.image_height = static_cast<JDIMENSION>(picture.height);
    compressor->info.input_components = 3;
    compressor->info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compressor->info);
    jpeg_set_quality(&compressor->info, quality, TRUE);
    jpeg_start_compress(&compressor->info, TRUE);
    while (compressor->info.next_scanline < compressor->info.image_height) {
        auto* row = const_cast<JSAMPLE*>(picture.rgb.data() + static_cast<size_t>(compressor->info.next_scanline) * static_cast<size_t>(picture.width) * 3);
        jpeg_write_scanlines(&compressor->info, &row, 1);
    }
    jpeg_finish_compress(&compressor->info);
    return std::string(reinterpret_cast<char const*>(destination->buffer), destination->size);
}

}
