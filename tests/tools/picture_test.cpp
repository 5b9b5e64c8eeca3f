#include "picture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "../sim/sim_test_support.h"

// An independent reader to check what the writer wrote.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

namespace {

namespace fs = std::filesystem;

constexpr uint32_t WHITE = 0xFFFFFF;

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // right and bottom outside
    long pixels = 0;
};

// Where each colour lies in the image, and how many pixels it has.
std::map<uint32_t, Box> colourBoxes(const FieldImage& image) {
    std::map<uint32_t, Box> boxes;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            Box& b = boxes[image.pixels[static_cast<std::size_t>(y) * image.width + x]];
            b.left = std::min(b.left, x);
            b.top = std::min(b.top, y);
            b.right = std::max(b.right, x + 1);
            b.bottom = std::max(b.bottom, y + 1);
            ++b.pixels;
        }
    }
    return boxes;
}

FieldImage decodePng(const std::vector<unsigned char>& png) {
    FieldImage image;
    int channels = 0;
    unsigned char* rgb = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &image.width, &image.height,
                                               &channels, 3);
    if (rgb == nullptr) return {};
    for (int i = 0; i < image.width * image.height; ++i) {
        image.pixels.push_back((uint32_t{rgb[3 * i]} << 16) | (uint32_t{rgb[3 * i + 1]} << 8) | rgb[3 * i + 2]);
    }
    stbi_image_free(rgb);
    return image;
}

std::vector<unsigned char> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Picture : public ModelTest {};

TEST_F(Picture, AKnownPopulationAsTheWindowDrawsIt) {
    // A black disc, a brown one, one across the corner of the drawing and a dead record at the
    // origin (radius 0: nothing).
    setPopulation({body(1, 10, 100, 100), body(1, 20, 500, 350), body(1, 15, 1040.5, 690), Particle{}});
    FieldImage image = drawFieldImage();
    ASSERT_EQ(image.width, 1050);
    ASSERT_EQ(image.height, 700);
    std::map<uint32_t, Box> boxes = colourBoxes(image);
    ASSERT_EQ(boxes.size(), 4u) << "white and one colour a live record";

    // Each disc fills its GDI box, from x - r to x + r truncated, the right and bottom edges
    // outside; the one across the corner is cut there, not wrapped.
    struct Expected {
        uint32_t colour;
        Box box;
    };
    const Expected discs[] = {
        {0x000000, {90, 90, 110, 110, 0}},
        {0x463C32, {480, 330, 520, 370, 0}},
        {0x8C7864, {1025, 675, 1050, 700, 0}},
    };
    long inked = 0;
    for (const Expected& e : discs) {
        SCOPED_TRACE(e.colour);
        ASSERT_TRUE(boxes.count(e.colour));
        const Box& b = boxes[e.colour];
        EXPECT_EQ(b.left, e.box.left);
        EXPECT_EQ(b.top, e.box.top);
        EXPECT_EQ(b.right, e.box.right);
        EXPECT_EQ(b.bottom, e.box.bottom);
        inked += b.pixels;
    }
    // Round, not square: a disc covers about pi/4 of its box.
    for (int k = 0; k < 2; ++k) {
        const Box& b = boxes[discs[k].colour];
        double share = static_cast<double>(b.pixels) / ((b.right - b.left) * (b.bottom - b.top));
        EXPECT_GT(share, 0.74);
        EXPECT_LT(share, 0.84);
    }
    // The centres are inked; all the rest is white.
    EXPECT_EQ(image.pixels[100 * 1050 + 100], 0x000000u);
    EXPECT_EQ(image.pixels[350 * 1050 + 500], 0x463C32u);
    EXPECT_EQ(image.pixels[0], WHITE);
    EXPECT_EQ(boxes[WHITE].pixels, 1050L * 700 - inked);
}

TEST_F(Picture, AnEmptyFieldIsWhite) {
    setPopulation({});
    FieldImage image = drawFieldImage();
    std::map<uint32_t, Box> boxes = colourBoxes(image);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.begin()->first, WHITE);
}

TEST_F(Picture, ThePngHoldsExactlyThePixels) {
    // Every byte value in every channel, and the field as drawn.
    FieldImage ramp{256, 3, {}};
    for (int y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 256; ++x) ramp.pixels.push_back(x << (8 * y) | (255 - x) << (8 * ((y + 1) % 3)));
    }
    setPopulation({body(1, 30, 200, 200), body(1, 4, 10, 690), body(1, 8, 999, 1)});
    for (const FieldImage& image : {ramp, drawFieldImage()}) {
        std::vector<unsigned char> png = encodePng(image);
        ASSERT_GT(png.size(), 8u);
        EXPECT_EQ(std::string(png.begin(), png.begin() + 8), "\x89PNG\r\n\x1a\n");
        FieldImage back = decodePng(png);
        EXPECT_EQ(back.width, image.width);
        EXPECT_EQ(back.height, image.height);
        EXPECT_EQ(back.pixels, image.pixels);
    }
    EXPECT_TRUE(encodePng(FieldImage{}).empty());
}

TEST(FramePattern, TheFrameNumberGoesIntoTheOneConversion) {
    FramePattern p;
    std::string error;
    ASSERT_TRUE(parseFramePattern("frames/%05d.png", p, error)) << error;
    EXPECT_EQ(framePath(p, 0), "frames/00000.png");
    EXPECT_EQ(framePath(p, 42), "frames/00042.png");
    EXPECT_EQ(framePath(p, 1234567), "frames/1234567.png");
    ASSERT_TRUE(parseFramePattern("%d", p, error));
    EXPECT_EQ(framePath(p, 7), "7");
    ASSERT_TRUE(parseFramePattern("100%% at %3d%%.png", p, error));
    EXPECT_EQ(framePath(p, 7), "100% at   7%.png");
    for (const char* bad : {"", "frame.png", "%d-%d.png", "%s.png", "%5", "%-5d.png", "%ld.png", "%x.png",
                            "%021d.png", "50%.png"}) {
        SCOPED_TRACE(bad);
        error.clear();
        EXPECT_FALSE(parseFramePattern(bad, p, error));
        EXPECT_FALSE(error.empty());
    }
}

class PictureFile : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        folder = fs::temp_directory_path() /
                 ("orrelune-picture-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        fs::remove_all(folder);
        ModelTest::TearDown();
    }
    // The folder's entries, by name.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path folder;
};

TEST_F(PictureFile, WritesTheFieldAndReplacesAnOlderPicture) {
    std::string path = (folder / "field.png").string();
    std::string error;
    setPopulation({body(1, 10, 100, 100)});
    ASSERT_TRUE(checkPicturePath(path, error)) << error;
    EXPECT_TRUE(entries().empty()) << "the check leaves nothing behind";
    ASSERT_TRUE(writeFieldPicture(path, error)) << error;
    EXPECT_EQ(decodePng(readFile(path)).pixels, drawFieldImage().pixels);

    setPopulation({body(1, 10, 600, 300)});
    ASSERT_TRUE(writeFieldPicture(path, error)) << error;
    EXPECT_EQ(decodePng(readFile(path)).pixels, drawFieldImage().pixels);
    EXPECT_EQ(entries(), std::vector<std::string>{"field.png"});
}

TEST_F(PictureFile, APathThatCannotBeWrittenLeavesNothing) {
    std::string error;
    std::string missing = (folder / "no-such-folder" / "field.png").string();
    EXPECT_FALSE(checkPicturePath(missing, error));
    EXPECT_EQ(error.rfind("cannot write '" + missing + "': ", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    error.clear();
    EXPECT_FALSE(writeFieldPicture(missing, error));
    EXPECT_FALSE(error.empty());

    std::string aFolder = folder.string();
    EXPECT_FALSE(checkPicturePath(aFolder, error));
    EXPECT_EQ(error, "cannot write '" + aFolder + "': it is a folder");
    EXPECT_FALSE(writeFieldPicture(aFolder, error));
    EXPECT_FALSE(checkPicturePath("", error));
    EXPECT_TRUE(entries().empty());
}

TEST_F(PictureFile, FramesFallDueEveryKTicksFromZero) {
    PictureRequest request;
    request.every = 3;
    std::string error;
    ASSERT_TRUE(parseFramePattern((folder / "f%02d.png").string(), request.frames, error));
    ASSERT_TRUE(checkPictures(request, error)) << error;
    setPopulation({body(1, 10, 100, 100)});
    for (long long tick = 0; tick <= 7; ++tick) ASSERT_TRUE(writeDueFrame(request, tick, error)) << error;
    ASSERT_TRUE(writeFinalPicture(request, error));
    EXPECT_EQ(entries(), (std::vector<std::string>{"f00.png", "f01.png", "f02.png"}));

    request.finalPath = (folder / "missing" / "last.png").string();
    EXPECT_FALSE(checkPictures(request, error));
    EXPECT_FALSE(writeFinalPicture(request, error));
}

}  // namespace
