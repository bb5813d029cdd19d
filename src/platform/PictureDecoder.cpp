#include "platform/PictureDecoder.h"

#include "platform/JpegFailure.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <png.h>

namespace velloq::platform {

namespace {

// The decoder's state lives in plain structures that need no destructor, as the library's
// errors leave by longjmp.
bool decode_jpeg(std::string_view bytes, int wanted_side, RgbPicture& picture, std::string& error)
{
    jpeg_decompress_struct info {};
    JpegFailure failure;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = &jpeg_failed;
    if (setjmp(failure.jump)) {
        error = failure.message;
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<unsigned char const*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    if (info.image_width > largest_decoded_side || info.image_height > largest_decoded_side) {
        error = "the picture is larger than " + std::to_string(largest_decoded_side) + " pixels on a side";
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    info.scale_num = 1;
    for (unsigned denominator = 8; denominator >= 1; denominator /= 2) {
        info.scale_denom = denominator;
        jpeg_calc_output_dimensions(&info);
        if (static_cast<int>(std::min(info.output_width, info.output_height)) >= wanted_side)
            break;
    }
    jpeg_start_decompress(&info);
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.rgb.assign(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.rgb.data() + static_cast<size_t>(info.output_scanline) * static_cast<size_t>(picture.width) * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool decode_png(std::string_view bytes, RgbPicture& picture, std::string& error)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        error = image.message;
        return false;
    }
    if (image.width > largest_decoded_side || image.height > largest_decoded_side) {
        error = "the picture is larger than " + std::to_string(largest_decoded_side) + " pixels on a side";
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    png_color white { 255, 255, 255 };
    if (!png_image_finish_read(&image, &white, picture.rgb.data(), 0, nullptr)) {
        error = image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

}

std::optional<RgbPicture> decode_picture(std::string_view bytes, int wanted_side, std::string& error)
{
    RgbPicture picture;
    bool jpeg = bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xD8;
    bool png = bytes.size() > 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) == 0;
    if (!jpeg && !png) {
        error = "neither a JPEG nor a PNG picture";
        return std::nullopt;
    }
    if (jpeg ? decode_jpeg(bytes, wanted_side, picture, error) : decode_png(bytes, picture, error))
        return picture;
    return std::nullopt;
}

}
