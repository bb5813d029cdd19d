#include "PictureMaker.h"

#include "SkinSource.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace velloq::skinc {

namespace {

using nlohmann::json;

constexpr uint16_t key_colour = 0xF81F;

struct Rgb {
    double red { 0 };
    double green { 0 };
    double blue { 0 };
};

Rgb colour_of(json const& value, std::string const& where)
{
    if (!value.is_string())
        throw SourceError(where + ": a colour is written \"#RRGGBB\"");
    uint8_t r, g, b;
    parse_colour(value.get<std::string>(), r, g, b);
    return { double(r), double(g), double(b) };
}

uint16_t to_565(Rgb const& colour)
{
    auto channel = [](double value) { return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L)); };
    return Bitmap565::rgb(channel(colour.red), channel(colour.green), channel(colour.blue));
}

Rgb from_565(uint16_t pixel)
{
    return { double((pixel >> 11) << 3), double(((pixel >> 5) & 0x3F) << 2), double((pixel & 0x1F) << 3) };
}

std::vector<double> numbers(json const& value, size_t count, std::string const& where)
{
    if (!value.is_array() || value.size() != count)
        throw SourceError(where + ": expected " + std::to_string(count) + " numbers");
    std::vector<double> out;
    for (auto const& item : value) {
        if (!item.is_number())
            throw SourceError(where + ": expected numbers");
        out.push_back(item.get<double>());
    }
    return out;
}

// Paints one shape by its signed distance: negative inside, positive outside.
class Painter {
public:
    Painter(Bitmap565& picture, bool hard_edges)
        : m_picture(picture)
        , m_hard_edges(hard_edges)
    {
    }

    template<typename Distance, typename ColourAt>
    void paint(Distance const& distance, ColourAt const& colour_at)
    {
        for (int32_t y = 0; y < m_picture.height(); ++y) {
            for (int32_t x = 0; x < m_picture.width(); ++x) {
                double coverage = std::clamp(0.5 - distance(x + 0.5, y + 0.5), 0.0, 1.0);
                if (m_hard_edges)
                    coverage = coverage >= 0.5 ? 1.0 : 0.0;
                if (coverage <= 0)
                    continue;
                uint16_t& pixel = m_picture.row(y)[x];
                Rgb wanted = colour_at(x, y);
                Rgb below = pixel == key_colour ? wanted : from_565(pixel);
                pixel = to_565({ below.red + (wanted.red - below.red) * coverage, below.green + (wanted.green - below.green) * coverage,
                    below.blue + (wanted.blue - below.blue) * coverage });
            }
        }
    }

private:
    Bitmap565& m_picture;
    bool m_hard_edges;
};

double rounded_rect_distance(double x, double y, std::vector<double> const& rect, double radius)
{
    double half_w = rect[2] / 2, half_h = rect[3] / 2;
    radius = std::clamp(radius, 0.0, std::min(half_w, half_h));
    double dx = std::abs(x - (rect[0] + half_w)) - (half_w - radius);
    double dy = std::abs(y - (rect[1] + half_h)) - (half_h - radius);
    double outside = std::hypot(std::max(dx, 0.0), std::max(dy, 0.0));
    return outside + std::min(std::max(dx, dy), 0.0) - radius;
}

double segment_distance(double x, double y, std::vector<double> const& from, std::vector<double> const& to)
{
    double dx = to[0] - from[0], dy = to[1] - from[1];
    double length_squared = dx * dx + dy * dy;
    double t = length_squared > 0 ? std::clamp(((x - from[0]) * dx + (y - from[1]) * dy) / length_squared, 0.0, 1.0) : 0.0;
    return std::hypot(x - (from[0] + t * dx), y - (from[1] + t * dy));
}

void draw_shape(Painter& painter, json const& shape, std::string const& where)
{
    std::string kind = shape.value("shape", "");
    double radius = shape.value("radius", 0.0);
    double width = shape.value("width", 1.0);
    std::function<double(double, double)> distance;
    if (kind == "rect" || kind == "gradient") {
        auto rect = numbers(shape.at("rect"), 4, where + " rect");
        distance = [rect, radius](double x, double y) { return rounded_rect_distance(x, y, rect, radius); };
        if (kind == "gradient") {
            Rgb from = colour_of(shape.at("from"), where), to = colour_of(shape.at("to"), where);
            bool vertical = shape.value("direction", "vertical") == "vertical";
            painter.paint(distance, [=](int32_t x, int32_t y) {
                double t = vertical ? (y - rect[1]) / std::max(1.0, rect[3] - 1) : (x - rect[0]) / std::max(1.0, rect[2] - 1);
                t = std::clamp(t, 0.0, 1.0);
                return Rgb { from.red + (to.red - from.red) * t, from.green + (to.green - from.green) * t, from.blue + (to.blue - from.blue) * t };
            });
            return;
        }
    } else if (kind == "circle") {
        auto centre = numbers(shape.at("center"), 2, where + " center");
        distance = [centre, radius](double x, double y) { return std::hypot(x - centre[0], y - centre[1]) - radius; };
    } else if (kind == "line") {
        // A stroke with round ends, "width" thick, from one point to another.
        auto from = numbers(shape.at("from"), 2, where + " from");
        auto to = numbers(shape.at("to"), 2, where + " to");
        distance = [from, to, width](double x, double y) { return segment_distance(x, y, from, to) - width / 2; };
        Rgb stroke = colour_of(shape.at("fill"), where);
        painter.paint(distance, [=](int32_t, int32_t) { return stroke; });
        return;
    } else {
        throw SourceError(where + ": unknown shape \"" + kind + "\" (rect, circle, line or gradient)");
    }
    if (shape.contains("fill")) {
        Rgb fill = colour_of(shape["fill"], where);
        painter.paint(distance, [=](int32_t, int32_t) { return fill; });
    }
    if (shape.contains("outline")) {
        Rgb outline = colour_of(shape["outline"], where);
        painter.paint([&](double x, double y) { return std::abs(distance(x, y) + width / 2) - width / 2; }, [=](int32_t, int32_t) { return outline; });
    }
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

std::unique_ptr<Bitmap565> read_png(std::filesystem::path const& path, std::string const& where)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw SourceError(where + ": cannot open " + path.string());
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_stdio(&image, file.get()))
        throw SourceError(where + ": " + path.string() + " is not a PNG image");
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        throw SourceError(where + ": " + path.string() + ": " + image.message);
    auto picture = Bitmap565::create(static_cast<int32_t>(image.width), static_cast<int32_t>(image.height));
    for (uint32_t y = 0; y < image.height; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            uint8_t const* p = &pixels[(y * image.width + x) * 4];
            // Transparent pixels become the key colour.
            picture->row(static_cast<int32_t>(y))[x] = p[3] < 128 ? key_colour : Bitmap565::rgb(p[0], p[1], p[2]);
        }
    }
    return picture;
}

}

void parse_colour(std::string const& text, uint8_t& red, uint8_t& green, uint8_t& blue)
{
    unsigned value = 0;
    if (text.size() != 7 || text[0] != '#' || std::sscanf(text.c_str() + 1, "%6x", &value) != 1
        || text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
        throw SourceError("\"" + text + "\" is not a colour of the form #RRGGBB");
    red = static_cast<uint8_t>(value >> 16);
    green = static_cast<uint8_t>(value >> 8);
    blue = static_cast<uint8_t>(value);
}

std::unique_ptr<Bitmap565> make_picture(std::string const& name, json const& description, std::filesystem::path const& source_folder)
{
    std::string where = "picture " + name;
    if (!description.is_object())
        throw SourceError(where + ": a picture is an object with \"size\" and \"shapes\", or with \"image\"");
    if (description.contains("image"))
        return read_png(source_folder / description["image"].get<std::string>(), where);
    auto size = numbers(description.at("size"), 2, where + " size");
    if (size[0] < 1 || size[1] < 1 || size[0] > 4096 || size[1] > 4096)
        throw SourceError(where + ": size must be 1 to 4096 pixels each way");
    auto picture = Bitmap565::create(static_cast<int32_t>(size[0]), static_cast<int32_t>(size[1]));
    Rgb background = colour_of(description.value("background", json("#FF00FF")), where);
    uint16_t background_pixel = to_565(background);
    picture->fill(background_pixel);
    Painter painter(*picture, background_pixel == key_colour);
    int index = 0;
    json const shapes = description.value("shapes", json::array());
    for (auto const& shape : shapes)
        draw_shape(painter, shape, where + " shape " + std::to_string(index++));
    return picture;
}

std::vector<uint8_t> bitmap_file_bytes(Bitmap565 const& picture)
{
    uint32_t row_bytes = static_cast<uint32_t>((16 * picture.width() + 31) / 32 * 4);
    uint32_t pixel_offset = 14 + 40 + 12;
    uint32_t file_size = pixel_offset + row_bytes * static_cast<uint32_t>(picture.height());
    std::vector<uint8_t> bytes(file_size, 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, file_size);
    put32(10, pixel_offset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(picture.width()));
    put32(22, static_cast<uint32_t>(picture.height()));
    bytes[26] = 1;
    bytes[28] = 16;
    put32(30, 3); // bit fields
    put32(34, row_bytes * static_cast<uint32_t>(picture.height()));
    put32(54, 0xF800);
    put32(58, 0x07E0);
    put32(62, 0x001F);
    for (int32_t y = 0; y < picture.height(); ++y) {
        uint16_t const* row = picture.row(picture.height() - 1 - y);
        for (int32_t x = 0; x < picture.width(); ++x) {
            bytes[pixel_offset + row_bytes * static_cast<uint32_t>(y) + static_cast<uint32_t>(x) * 2] = static_cast<uint8_t>(row[x]);
            bytes[pixel_offset + row_bytes * static_cast<uint32_t>(y) + static_cast<uint32_t>(x) * 2 + 1] = static_cast<uint8_t>(row[x] >> 8);
        }
    }
    return bytes;
}

}
