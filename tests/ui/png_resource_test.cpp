#include <windows.h>

#include <gtest/gtest.h>

#include "resources/resource_ids.h"
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
    const Expected images[] = {{IDP_BACKGROUND, 650, 450}, {IDP_BAR_TRACK, 500, 25},
                               {IDP_BAR_BLUE, 500, 25},    {IDP_BAR_GREEN, 500, 25},
                               {IDP_INFO_PANEL, 580, 190}, {IDP_CHECK_PANEL, 258, 180},
                               {IDP_PLAY_BUTTON, 120, 42}, {IDP_CLOSE_BUTTON, 120, 42},
                               {IDP_BUSY_BUTTON, 120, 42}};
    for (const Expected& expected : images) {
        UniqueImage image = LoadPngResource(self, expected.id);
        ASSERT_TRUE(image) << expected.id;
        ImageSize size = SizeOf(image.Get());
        EXPECT_EQ(size.width, expected.width) << expected.id;
        EXPECT_EQ(size.height, expected.height) << expected.id;
    }
}

// An opaque image is kept as plain RGB, drawn as a copy of its pixels; a single
// pixel short of full alpha keeps the premultiplied form, so it still blends.
TEST_F(PngResourceTest, OnlyImagesWithoutATransparentPixelLoseTheirAlpha) {
    Gdiplus::PixelFormat format = 0;
    UniqueImage background = LoadPngResource(self, IDP_BACKGROUND);
    UniqueImage panel = LoadPngResource(self, IDP_INFO_PANEL);
    ASSERT_TRUE(background && panel);
    ASSERT_EQ(Gdiplus::DllExports::GdipGetImagePixelFormat(background.Get(), &format), Gdiplus::Ok);
    EXPECT_EQ(format, PixelFormat32bppRGB);
    ASSERT_EQ(Gdiplus::DllExports::GdipGetImagePixelFormat(panel.Get(), &format), Gdiplus::Ok);
    EXPECT_EQ(format, PixelFormat32bppPARGB);

    BYTE pixels[3 * 2 * 4];
    for (BYTE& b : pixels) b = 0xFF;
    Gdiplus::GpBitmap* made = nullptr;
    ASSERT_EQ(Gdiplus::DllExports::GdipCreateBitmapFromScan0(3, 2, 12, PixelFormat32bppARGB, pixels, &made),
              Gdiplus::Ok);
    UniqueImage full(made);
    EXPECT_TRUE(IsOpaque(full.Get()));
    pixels[5 * 4 + 3] = 0xFE;  // the last pixel
    ASSERT_EQ(Gdiplus::DllExports::GdipCreateBitmapFromScan0(3, 2, 12, PixelFormat32bppARGB, pixels, &made),
              Gdiplus::Ok);
    UniqueImage almost(made);
    EXPECT_FALSE(IsOpaque(almost.Get()));
}

TEST_F(PngResourceTest, MissingResourceGivesNoImage) {
    EXPECT_FALSE(LoadPngResource(self, IDP_BUSY_BUTTON + 1));
    EXPECT_FALSE(LoadPngResource(self, IDI_PATCHER));  // the icon is not a "PNG" resource
}

TEST_F(PngResourceTest, BytesThatDoNotDecodeGiveNoImage) {
    ASSERT_NE(FindResourceW(self, MAKEINTRESOURCEW(150), L"PNG"), nullptr);
    EXPECT_FALSE(LoadPngResource(self, 150));
}

}  // namespace
