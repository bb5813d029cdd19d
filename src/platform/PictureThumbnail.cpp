#include "platform/PictureThumbnail.h"

#include "platform/JpegFailure.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <gif_lib.h>
#include <jpeglib.h>
#include <memory>
#include <png.h>
#include <vector>

namespace velloq::platform {

namespace {

struct Size {
    int width { 0 };
    int height { 0 };
};

bool acceptable(Size source, std::string& error)
{
    if (source.width <= 0 || source.height <= 0) {
        error = "the picture has no pixels";
        return false;
    }
    if (source.width > largest_decoded_side || source.height > largest_decoded_side
        || static_cast<uint64_t>(source.width) * static_cast<uint64_t>(source.height) > most_thumbnail_source_pixels) {
        error = "the picture is larger than " + std::to_string(largest_decoded_side) + " pixels on a side";
        return false;
    }
    return true;
}

// The thumbnail's size: the source fitted into the box, at least one pixel a side.
Size fitted(Size source, int box_width, int box_height)
{
    double scale = std::min({ 1.0, static_cast<double>(box_width) / source.width, static_cast<double>(box_height) / source.height });
    return { std::max(1, static_cast<int>(source.width * scale + 0.5)), std::max(1, static_cast<int>(source.height * scale + 0.5)) };
}

// Shrinks rows as they come: each thumbnail pixel is the mean of the source pixels it covers.
class RowShrinker {
public:
    RowShrinker(Size source, Size target)
        : m_source(source)
        , m_target(target)
        , m_column(static_cast<size_t>(source.width))
        , m_sums(static_cast<size_t>(target.width) * 3)
        , m_counts(static_cast<size_t>(target.width))
    {
        for (int x = 0; x < source.width; ++x)
            m_column[static_cast<size_t>(x)] = static_cast<int>(static_cast<int64_t>(x) * target.width / source.width);
        m_picture.width = target.width;
        m_picture.height = target.height;
        m_picture.rgb.reserve(static_cast<size_t>(target.width) * static_cast<size_t>(target.height) * 3);
    }

    // One source row of RGB pixels, top to bottom.
    void add_row(uint8_t const* rgb)
    {
        if (m_row >= m_source.height)
            return;
        for (int x = 0; x < m_source.width; ++x) {
            size_t column = static_cast<size_t>(m_column[static_cast<size_t>(x)]);
            for (int c = 0; c < 3; ++c)
                m_sums[column * 3 + static_cast<size_t>(c)] += rgb[x * 3 + c];
            ++m_counts[column];
        }
        ++m_row;
        int64_t ends_target_row = (static_cast<int64_t>(m_target_row) + 1) * m_source.height / m_target.height;
        if (m_row >= ends_target_row || m_row == m_source.height)
            emit_row();
    }

    bool complete() const { return m_target_row == m_target.height; }
    RgbPicture take() { return std::move(m_picture); }

private:
    void emit_row()
    {
        if (m_target_row >= m_target.height)
            return;
        for (size_t x = 0; x < m_counts.size(); ++x) {
            uint32_t count = std::max<uint32_t>(1, m_counts[x]);
            for (size_t c = 0; c < 3; ++c)
                m_picture.rgb.push_back(static_cast<uint8_t>(m_sums[x * 3 + c] / count));
        }
        std::fill(m_sums.begin(), m_sums.end(), 0);
        std::fill(m_counts.begin(), m_counts.end(), 0);
        ++m_target_row;
    }

    Size m_source;
    Size m_target;
    std::vector<int> m_column;
    std::vector<uint32_t> m_sums;
    std::vector<uint32_t> m_counts;
    int m_row { 0 };
    int m_target_row { 0 };
    RgbPicture m_picture;
};

// Alpha laid over white.
void over_white(uint8_t const* rgba, uint8_t* rgb, int width)
{
    for (int x = 0; x < width; ++x) {
        unsigned alpha = rgba[x * 4 + 3];
        for (int c = 0; c < 3; ++c)
            rgb[x * 3 + c] = static_cast<uint8_t>((rgba[x * 4 + c] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
}

// The decoder's state lives in plain structures and in `state`, made before the jump point, as
// the library's errors leave by longjmp.
struct JpegState {
    std::vector<uint8_t> row;
    std::optional<RowShrinker> shrinker;
};

bool thumbnail_of_jpeg(std::string_view bytes, int box_width, int box_height, JpegState& state, std::string& error)
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
    Size source { static_cast<int>(std::min<JDIMENSION>(info.image_width, largest_decoded_side + 1)),
        static_cast<int>(std::min<JDIMENSION>(info.image_height, largest_decoded_side + 1)) };
    if (!acceptable(source, error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    Size target = fitted(source, box_width, box_height);
    info.out_color_space = JCS_RGB;
    info.scale_num = 1;
    for (unsigned denominator = 8; denominator >= 1; denominator /= 2) {
        info.scale_denom = denominator;
        jpeg_calc_output_dimensions(&info);
        if (static_cast<int>(info.output_width) >= target.width && static_cast<int>(info.output_height) >= target.height)
            break;
    }
    jpeg_start_decompress(&info);
    Size decoded { static_cast<int>(info.output_width), static_cast<int>(info.output_height) };
    state.row.assign(static_cast<size_t>(decoded.width) * 3, 0);
    state.shrinker.emplace(decoded, Size { std::min(target.width, decoded.width), std::min(target.height, decoded.height) });
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = state.row.data();
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
        state.shrinker->add_row(state.row.data());
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

struct PngSource {
    std::string_view bytes;
    size_t offset { 0 };
};

void png_read_memory(png_structp png, png_bytep out, png_size_t count)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->bytes.size() - source->offset)
        png_error(png, "the file ends early");
    std::memcpy(out, source->bytes.data() + source->offset, count);
    source->offset += count;
}

void png_failed(png_structp png, png_const_charp message)
{
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = message;
    png_longjmp(png, 1);
}

void png_warned(png_structp, png_const_charp) { }

// Everything with a destructor lives here, outside the function the library's errors jump out of.
struct PngState {
    std::vector<uint8_t> rows;
    std::vector<png_bytep> row_pointers;
    std::vector<uint8_t> rgb;
    std::optional<RowShrinker> shrinker;
};

// Every kind of PNG as 8-bit RGBA rows.
void expand_to_rgba(png_structp png, png_infop info)
{
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
}

// An interlaced picture comes in passes over the whole of it, so it is held whole; it is
// allowed a sixteenth of the pixels of one read row by row.
void read_png_rows(png_structp png, Size source, bool interlaced, PngState& state)
{
    size_t stride = static_cast<size_t>(source.width) * 4;
    state.rgb.assign(static_cast<size_t>(source.width) * 3, 0);
    if (!interlaced) {
        state.rows.assign(stride, 0);
        for (int y = 0; y < source.height; ++y) {
            png_read_row(png, state.rows.data(), nullptr);
            over_white(state.rows.data(), state.rgb.data(), source.width);
            state.shrinker->add_row(state.rgb.data());
        }
        return;
    }
    state.rows.assign(stride * static_cast<size_t>(source.height), 0);
    state.row_pointers.resize(static_cast<size_t>(source.height));
    for (int y = 0; y < source.height; ++y)
        state.row_pointers[static_cast<size_t>(y)] = state.rows.data() + stride * static_cast<size_t>(y);
    png_read_image(png, state.row_pointers.data());
    for (int y = 0; y < source.height; ++y) {
        over_white(state.row_pointers[static_cast<size_t>(y)], state.rgb.data(), source.width);
        state.shrinker->add_row(state.rgb.data());
    }
}

bool thumbnail_of_png(std::string_view bytes, int box_width, int box_height, PngState& state, std::string& error)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, png_failed, png_warned);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    PngSource source_bytes { bytes, 0 };
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source_bytes, png_read_memory);
    png_set_user_limits(png, largest_decoded_side, largest_decoded_side);
    png_read_info(png, info);
    Size source { static_cast<int>(png_get_image_width(png, info)), static_cast<int>(png_get_image_height(png, info)) };
    bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    if (!acceptable(source, error) || (interlaced && static_cast<uint64_t>(source.width) * static_cast<uint64_t>(source.height) > most_thumbnail_source_pixels / 16)) {
        if (error.empty())
            error = "an interlaced picture this large is not shown";
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (interlaced)
        png_set_interlace_handling(png);
    expand_to_rgba(png, info);
    state.shrinker.emplace(source, fitted(source, box_width, box_height));
    read_png_rows(png, source, interlaced, state);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

struct GifSource {
    std::string_view bytes;
    size_t offset { 0 };
};

int gif_read_memory(GifFileType* gif, GifByteType* out, int count)
{
    auto* source = static_cast<GifSource*>(gif->UserData);
    size_t wanted = static_cast<size_t>(std::max(count, 0));
    size_t given = std::min(wanted, source->bytes.size() - source->offset);
    std::memcpy(out, source->bytes.data() + source->offset, given);
    source->offset += given;
    return static_cast<int>(given);
}

struct GifClose {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// The transparent colour of the frame that follows, from its graphics control block.
int transparent_index(GifFileType* gif, int code, GifByteType* extension, int transparent)
{
    while (extension) {
        GraphicsControlBlock control {};
        if (code == GRAPHICS_EXT_FUNC_CODE && DGifExtensionToGCB(extension[0], extension + 1, &control) == GIF_OK)
            transparent = control.TransparentColor;
        code = CONTINUE_EXT_FUNC_CODE;
        if (DGifGetExtensionNext(gif, &extension) != GIF_OK)
            return transparent;
    }
    return transparent;
}

// The rows of the first frame in order; an interlaced frame sends them in four passes, so its
// colour indexes (a byte a pixel) are held whole.
bool read_gif_indexes(GifFileType* gif, Size frame, std::vector<GifByteType>& indexes)
{
    indexes.assign(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height), 0);
    static constexpr int starts[] = { 0, 4, 2, 1 };
    static constexpr int steps[] = { 8, 8, 4, 2 };
    int passes = gif->Image.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        int start = gif->Image.Interlace ? starts[pass] : 0;
        int step = gif->Image.Interlace ? steps[pass] : 1;
        for (int y = start; y < frame.height; y += step)
            if (DGifGetLine(gif, indexes.data() + static_cast<size_t>(y) * static_cast<size_t>(frame.width), frame.width) != GIF_OK)
                return false;
    }
    return true;
}

bool thumbnail_of_gif(std::string_view bytes, int box_width, int box_height, std::optional<RowShrinker>& shrinker, std::string& error)
{
    GifSource source { bytes, 0 };
    int open_error = 0;
    std::unique_ptr<GifFileType, GifClose> gif(DGifOpen(&source, gif_read_memory, &open_error));
    if (!gif) {
        error = GifErrorString(open_error);
        return false;
    }
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK || record == TERMINATE_RECORD_TYPE) {
            error = "no picture in the GIF file";
            return false;
        }
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif.get(), &code, &extension) != GIF_OK) {
                error = "a damaged GIF extension";
                return false;
            }
            transparent = transparent_index(gif.get(), code, extension, transparent);
            continue;
        }
        if (record == IMAGE_DESC_RECORD_TYPE)
            break;
    }
    if (DGifGetImageDesc(gif.get()) != GIF_OK) {
        error = "a damaged GIF frame";
        return false;
    }
    Size frame { gif->Image.Width, gif->Image.Height };
    if (!acceptable(frame, error))
        return false;
    ColorMapObject const* colours = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
    if (!colours || colours->ColorCount <= 0) {
        error = "a GIF frame without colours";
        return false;
    }
    std::vector<GifByteType> indexes;
    if (!read_gif_indexes(gif.get(), frame, indexes)) {
        error = "the GIF file ends early";
        return false;
    }
    shrinker.emplace(frame, fitted(frame, box_width, box_height));
    std::vector<uint8_t> rgb(static_cast<size_t>(frame.width) * 3);
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            int index = indexes[static_cast<size_t>(y) * static_cast<size_t>(frame.width) + static_cast<size_t>(x)];
            bool clear = index == transparent || index >= colours->ColorCount;
            GifColorType colour = clear ? GifColorType { 255, 255, 255 } : colours->Colors[index];
            rgb[static_cast<size_t>(x) * 3] = colour.Red;
            rgb[static_cast<size_t>(x) * 3 + 1] = colour.Green;
            rgb[static_cast<size_t>(x) * 3 + 2] = colour.Blue;
        }
        shrinker->add_row(rgb.data());
    }
    return true;
}

bool starts_with(std::string_view bytes, std::string_view signature)
{
    return bytes.size() >= signature.size() && bytes.substr(0, signature.size()) == signature;
}

}

std::string picture_content_type(std::string_view bytes)
{
    if (starts_with(bytes, "\xFF\xD8"))
        return "image/jpeg";
    if (starts_with(bytes, "\x89PNG\r\n\x1A\n"))
        return "image/png";
    if (starts_with(bytes, "GIF87a") || starts_with(bytes, "GIF89a"))
        return "image/gif";
    return {};
}

std::optional<RgbPicture> decode_thumbnail(std::string_view bytes, int box_width, int box_height, std::string& error)
{
    if (box_width <= 0 || box_height <= 0) {
        error = "no room for a thumbnail";
        return std::nullopt;
    }
    std::optional<RowShrinker> shrinker;
    bool decoded = false;
    std::string type = picture_content_type(bytes);
    if (type == "image/jpeg") {
        JpegState state;
        decoded = thumbnail_of_jpeg(bytes, box_width, box_height, state, error);
        shrinker = std::move(state.shrinker);
    } else if (type == "image/png") {
        PngState state;
        decoded = thumbnail_of_png(bytes, box_width, box_height, state, error);
        shrinker = std::move(state.shrinker);
    } else if (type == "image/gif") {
        decoded = thumbnail_of_gif(bytes, box_width, box_height, shrinker, error);
    } else {
        error = "neither a JPEG, a PNG nor a GIF picture";
        return std::nullopt;
    }
    if (!decoded)
        return std::nullopt;
    if (!shrinker || !shrinker->complete()) {
        error = "the picture ends early";
        return std::nullopt;
    }
    return shrinker->take();
}

}
