#include <windows.h>

#include <gtest/gtest.h>

#include "ui/drawing.h"
#include "ui/png_resource.h"

namespace {

// GDI+ for the length of one test.
class PngResourceTest : public ::testing::Test {
protected:
    PngResourceTest() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    }
    ~PngResourceTest() override { Gdiplus::GdiplusShutdown(token); }
    HMODULE self = GetModuleHandleW(nullptr);
    ULONG_PTR token = 0;
};

TEST_F(PngResourceTest, EveryEmbeddedImageDecodesAtItsSize) {
    struct Expected {
        int id;
        int width;
        int height;
    };
    const Expected images[] = {{102, 650, 450}, {103, 500, 25},  {104, 500, 25},
                               {105, 500, 25},  {106, 580, 190}, {107, 258, 180},
                               {108, 120, 42},  {109, 120, 42},  {110, 120, 42}};
    for (const Expected& expected : images) {
        UniqueImage image = LoadPngResource(self, expected.id);
        ASSERT_TRUE(image) << expected.id;
        ImageSize size = SizeOf(image.Get());
        EXPECT_EQ(size.width, expected.width) << expected.id;
        EXPECT_EQ(size.height, expected.height) << expected.id;
    }
}

TEST_F(PngResourceTest, MissingResourceGivesNoImage) {
    EXPECT_FALSE(LoadPngResource(self, 111));
    EXPECT_FALSE(LoadPngResource(self, 101));  // the icon is not a "PNG" resource
}

TEST_F(PngResourceTest, BytesThatDoNotDecodeGiveNoImage) {
    ASSERT_NE(FindResourceW(self, MAKEINTRESOURCEW(150), L"PNG"), nullptr);
    EXPECT_FALSE(LoadPngResource(self, 150));
}

}  // namespace
