#include <gtest/gtest.h>

#include <string>

#include "tools/publish/publish/publish_record.h"

namespace {

PublishRecord TwoFiles() {
    PublishRecord record;
    RecordedFile file;
    file.md5 = "0123456789abcdef0123456789abcdef";
    file.placed = FileStamp{1234, 1700000000123456789ull, 0, 42};
    file.source = FileStamp{1234, 1690000000000000001ull, 1690000000000000002ull, 7};
    record.files["dane/zażółć.pak"] = file;
    file.md5 = "ffffffffffffffffffffffffffffffff";
    file.placed = FileStamp{0, 1, 0, 2};
    file.source = FileStamp{0, 3, 4, 18446744073709551615ull};
    record.files["Vorlen-Patcher.exe"] = file;
    return record;
}

void ExpectSame(const PublishRecord& a, const PublishRecord& b) {
    ASSERT_EQ(a.files.size(), b.files.size());
    for (const auto& entry : a.files) {
        const auto other = b.files.find(entry.first);
        ASSERT_NE(other, b.files.end()) << entry.first;
        EXPECT_EQ(entry.second.md5, other->second.md5);
        EXPECT_TRUE(SamePlacedFile(entry.second.placed, other->second.placed)) << entry.first;
        EXPECT_TRUE(SameSourceFile(entry.second.source, other->second.source)) << entry.first;
    }
}

TEST(PublishRecord, ReadsBackWhatItWritesAndSkipsLinesOfLaterVersions) {
    const std::string text = FormatPublishRecord(TwoFiles());
    PublishRecord read;
    ASSERT_TRUE(ParsePublishRecord(text, read));
    ExpectSame(read, TwoFiles());
    EXPECT_EQ(read.release, 0u);
    EXPECT_EQ(text.find("release"), std::string::npos);

    // A later version's line is not this one's business.
    std::string grown = text;
    grown.insert(grown.find('\n') + 1, "something else entirely\n");
    ASSERT_TRUE(ParsePublishRecord(grown, read));
    ExpectSame(read, TwoFiles());
}

TEST(PublishRecord, KeepsTheReleaseNumberWhateverSystemItsStampsAreFrom) {
    PublishRecord record = TwoFiles();
    record.release = 18446744073709551615ull;
    const std::string text = FormatPublishRecord(record);
    EXPECT_NE(text.find("\nrelease 18446744073709551615\n"), std::string::npos);
    PublishRecord read;
    ASSERT_TRUE(ParsePublishRecord(text, read));
    EXPECT_EQ(read.release, record.release);
    EXPECT_EQ(RecordedRelease(text), record.release);

    // The stamps of another system vouch for no file, but the number stands.
    std::string other = text;
    other.replace(other.find(kFileStampSystem), std::string(kFileStampSystem).size(), "other");
    EXPECT_FALSE(ParsePublishRecord(other, read));
    EXPECT_EQ(RecordedRelease(other), record.release);
    EXPECT_EQ(RecordedRelease("vorlen-publish-state 2\nrelease 4\n"), 0u);
    EXPECT_EQ(RecordedRelease("vorlen-publish-state 1\nrelease x4\n"), 0u);
    EXPECT_FALSE(ParsePublishRecord("vorlen-publish-state 1\nstamps " + std::string(kFileStampSystem) +
                                        "\nrelease 18446744073709551616\n",
                                    read));
}

TEST(PublishRecord, VouchesForNothingWhenItIsDamagedOrFromAnotherSystemOrFormat) {
    const std::string text = FormatPublishRecord(TwoFiles());
    PublishRecord read;
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    EXPECT_FALSE(ParsePublishRecord("", read));
    EXPECT_FALSE(ParsePublishRecord(replaced("vorlen-publish-state 1", "vorlen-publish-state 2"), read));
    EXPECT_FALSE(ParsePublishRecord(replaced(std::string("stamps ") + kFileStampSystem, "stamps other"), read));
    EXPECT_FALSE(ParsePublishRecord(replaced(" 1234 ", " 12x4 "), read));
    EXPECT_FALSE(ParsePublishRecord(replaced("ffffffff", "FFFFFFFF"), read));
    EXPECT_FALSE(ParsePublishRecord(replaced("18446744073709551615", "18446744073709551616"), read));
    EXPECT_FALSE(ParsePublishRecord(text.substr(0, text.rfind(' ')), read));  // a line cut short
    EXPECT_TRUE(read.files.empty());
}

}  // namespace
