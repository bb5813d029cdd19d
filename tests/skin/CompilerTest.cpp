#include "PictureMaker.h"
#include "SkinWriter.h"
#include "SourceReader.h"
#include "skin/BitmapFile.h"
#include "platform/Utf.h"

#include "support/ChildProcess.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace velloq;
using nlohmann::json;

namespace {

std::string const compiler = VELLOQ_PROGRAM_DIR "/velloq-skinc";

std::string compile_error(test::TempDevice& device, std::string const& source_text)
{
    auto source = device.path() / "bad.json";
    std::ofstream(source) << source_text;
    auto errors = device.path() / "errors.txt";
    std::string command = "'" + compiler + "' '" + source.string() + "' '" + (device.path() / "bad.skin").string() + "' 2> '" + errors.string() + "'";
    EXPECT_NE(std::system(command.c_str()), 0);
    return test::read_file(errors);
}

}

TEST(SkinCompiler, ErrorsNameTheFileTheSectionAndTheProblem)
{
    test::TempDevice device;
    auto error = compile_error(device, R"({ "sections": { "FormMain": { "children": [ { "id": "list", "border_min": [1] } ] } } })");
    EXPECT_NE(error.find("bad.json"), std::string::npos) << error;
    EXPECT_NE(error.find("FormMain/list"), std::string::npos) << error;
    EXPECT_NE(error.find("border_min"), std::string::npos) << error;
    error = compile_error(device, R"({ "sections": { "F": { "p": { "picture": "nowhere" } } } })");
    EXPECT_NE(error.find("unknown picture nowhere"), std::string::npos) << error;
    error = compile_error(device, R"({ "sections": { "F": { "c": { "colour": "red" } } } })");
    EXPECT_NE(error.find("#RRGGBB"), std::string::npos) << error;
    EXPECT_NE(error.find("bad.json: section F record c"), std::string::npos) << error;
    // A child the program could not build is refused here, not when the form is shown.
    error = compile_error(device, R"({ "sections": { "F": { "children": [ { "id": "a", "type": "node", "children": [ { "id": "b" } ] } ] } } })");
    EXPECT_NE(error.find("bad.json: section F/a/b: a child needs a \"type\""), std::string::npos) << error;
    error = compile_error(device, R"({ "sections": { "F": { "children": [ { "id": "z", "type": "slider" } ] } } })");
    EXPECT_NE(error.find("section F/z: no element has the type \"slider\""), std::string::npos) << error;
    error = compile_error(device, R"({ "sections": { "F": { "c": { "colour": 12 } } } })");
    EXPECT_NE(error.find("section F record c"), std::string::npos) << error;
    error = compile_error(device, R"({ "sections": )");
    EXPECT_NE(error.find("bad.json"), std::string::npos) << error;
}

TEST(SkinCompiler, NamesPastSixtyFourKilobytesAreRefused)
{
    skinc::SkinSource source;
    skinc::SectionSource section;
    section.name = u"Big";
    for (int i = 0; i < 2000; ++i)
        section.integers[u"a_rather_long_record_name_number_" + to_utf16(std::to_string(i))] = i;
    source.sections.push_back(section);
    EXPECT_THROW(skinc::write_skin(source), skinc::SourceError);
}

TEST(SkinCompiler, PicturesFromShapesKeepKeyColourEdgesHard)
{
    auto picture = skinc::make_picture("p",
        json::parse(R"({ "size": [10, 10], "shapes": [ { "shape": "circle", "center": [5, 5], "radius": 4, "fill": "#00FF00" } ] })"), ".");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->row(0)[0], 0xF81F);
    EXPECT_EQ(picture->row(5)[5], Bitmap565::rgb(0, 255, 0));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_TRUE(picture->row(y)[x] == 0xF81F || picture->row(y)[x] == Bitmap565::rgb(0, 255, 0));
    auto bytes = skinc::bitmap_file_bytes(*picture);
    auto loaded = decode_565(u"p", bytes.data(), bytes.size());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->row(5)[5], picture->row(5)[5]);
    EXPECT_EQ(loaded->row(0)[9], picture->row(0)[9]);
}

TEST(SkinCompiler, GradientRunsFromOneColourToTheOther)
{
    auto picture = skinc::make_picture("g",
        json::parse(R"({ "size": [2, 9], "background": "#000000", "shapes": [ { "shape": "gradient", "rect": [0, 0, 2, 9], "from": "#000000", "to": "#FFFFFF" } ] })"),
        ".");
    EXPECT_EQ(picture->row(0)[0], Bitmap565::rgb(0, 0, 0));
    EXPECT_EQ(picture->row(8)[1], Bitmap565::rgb(255, 255, 255));
    EXPECT_GT(picture->row(4)[0], picture->row(2)[0]);
}
