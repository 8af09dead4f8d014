#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "engine/local_path.h"
#include "tools/publish/shared/server_url.h"

namespace {

TEST(ServerUrl, FileAddressesAreTheOnesThePatcherRequests) {
    const std::string base = "http://patch.example.net:8080/fs";
    for (const std::string path : {"readme.txt", "data\\maps/forest.map", "dane/zażółć.txt", "a\\b\\c", "x/%41#y"}) {
        EXPECT_EQ(FileUrl(base, path), WideToUtf8(FileUrlOf(Utf8ToWide(base), path))) << path;
    }
    EXPECT_EQ(FileUrl(base, "data\\maps/forest.map"), "http://patch.example.net:8080/fs/data/maps/forest.map");
}

TEST(ServerUrl, EncodesBytesOutsidePrintableAsciiOnly) {
    EXPECT_EQ(EncodeUrlBytes("http://h/fs/dane/zażółć.txt"), "http://h/fs/dane/za%C5%BC%C3%B3%C5%82%C4%87.txt");
    EXPECT_EQ(EncodeUrlBytes("http://h/fs/a b\x7f\x01"), "http://h/fs/a%20b%7F%01");
    EXPECT_EQ(EncodeUrlBytes("https://h:1/fs/%41~!$&'()*+,;=@[]"), "https://h:1/fs/%41~!$&'()*+,;=@[]");
}

TEST(ServerUrl, BaseUrlsAreHttpOrHttpsWithoutTrailingSlashes) {
    std::string base;
    ASSERT_TRUE(ParseBaseUrl("http://127.0.0.1:8080/fs/", base));
    EXPECT_EQ(base, "http://127.0.0.1:8080/fs");
    ASSERT_TRUE(ParseBaseUrl("HTTPS://patch.example.net//", base));
    EXPECT_EQ(base, "HTTPS://patch.example.net");
    ASSERT_TRUE(ParseBaseUrl("http://h/fs", base));
    EXPECT_EQ(base, "http://h/fs");
    for (const std::string bad : {"", "ftp://h/fs", "file:///srv/fs", "http://", "http:///fs", "h/fs",
                                  "http://h/my fs", "http://h/fs\n"}) {
        base = "unchanged";
        EXPECT_FALSE(ParseBaseUrl(bad, base)) << bad;
        EXPECT_EQ(base, "unchanged");
    }
}

}  // namespace
