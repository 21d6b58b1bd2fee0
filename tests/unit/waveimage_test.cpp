// The monitor's RIFF/WAVE parser on hand-made images.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "waveplayer.h"

namespace {

// Builds an image chunk by chunk; sizes are whatever the test declares.
class Image {
public:
    Image()
    {
        append("RIFF");
        le32(0); // the RIFF size field: never trusted, the walk uses the image size
        append("WAVE");
    }
    Image& chunk(const char* id, const std::vector<uint8_t>& data, uint32_t declared)
    {
        append(id);
        le32(declared);
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    Image& chunk(const char* id, const std::vector<uint8_t>& data)
    {
        return chunk(id, data, static_cast<uint32_t>(data.size()));
    }
    Image& fmt() { return chunk("fmt ", {1, 0, 1, 0, 0x11, 0x2B, 0, 0, 0x22, 0x56, 0, 0, 2, 0, 16, 0}); }
    std::vector<uint8_t> bytes;

private:
    void append(const char* text) { bytes.insert(bytes.end(), text, text + std::strlen(text)); }
    void le32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
};

bool Parse(const Image& image, WaveInfo& info)
{
    return LoadWaveInfo(&info, image.bytes.data(), static_cast<DWORD>(image.bytes.size())) != FALSE;
}

TEST(WaveImage, ChunksInAnyOrderWithStrangersBetween)
{
    Image image;
    image.chunk("data", {1, 2, 3, 4}).chunk("LIST", {9, 9, 9}).fmt();
    WaveInfo info;
    ASSERT_TRUE(Parse(image, info));
    EXPECT_EQ(std::memcmp(info.formType, "WAVE", 4), 0);
    EXPECT_EQ(ReadLe16(info.format), 1);
    EXPECT_EQ(ReadLe32(info.format + 4), 11025u);
    EXPECT_EQ(info.dwDataOffset, 20u);
    EXPECT_EQ(info.dwDataLength, 4u);
    EXPECT_EQ(info.pData, image.bytes.data() + 20);
    EXPECT_EQ(info.dwImageSize, image.bytes.size());
}

TEST(WaveImage, OddSizedChunkIsFollowedAtTheVeryNextByte)
{
    Image image;
    image.fmt().chunk("junk", {7, 7, 7}).chunk("data", {5, 6});
    WaveInfo info;
    ASSERT_TRUE(Parse(image, info));
    EXPECT_EQ(info.dwDataLength, 2u);
    EXPECT_EQ(info.pData[0], 5);

    // A trailing pad byte after an odd last chunk is no chunk.
    image.chunk("data", {1, 2, 3});
    image.bytes.push_back(0);
    ASSERT_TRUE(Parse(image, info));
    EXPECT_EQ(info.dwDataLength, 3u);
}

TEST(WaveImage, TheLastFormatAndDataWin)
{
    Image image;
    image.fmt().chunk("data", {1}).chunk("data", {2, 3});
    WaveInfo info;
    ASSERT_TRUE(Parse(image, info));
    EXPECT_EQ(info.dwDataLength, 2u);
    EXPECT_EQ(info.pData[0], 2);
}

TEST(WaveImage, IncompleteOrForeignImagesAreRejectedAndCleared)
{
    WaveInfo info;
    Image no_format;
    no_format.chunk("data", {1, 2});
    EXPECT_FALSE(Parse(no_format, info));
    EXPECT_EQ(info.pData, nullptr);
    EXPECT_EQ(info.dwImageSize, 0u);

    Image no_data;
    no_data.fmt();
    EXPECT_FALSE(Parse(no_data, info));

    Image short_format;
    short_format.chunk("fmt ", {1, 0, 1, 0}).chunk("data", {1});
    EXPECT_FALSE(Parse(short_format, info));

    Image riff_of_another_kind;
    riff_of_another_kind.fmt().chunk("data", {1});
    std::memcpy(riff_of_another_kind.bytes.data() + 8, "AVI ", 4);
    EXPECT_FALSE(Parse(riff_of_another_kind, info));

    EXPECT_FALSE(LoadWaveInfo(&info, reinterpret_cast<const BYTE*>("RIFF"), 4));
    EXPECT_FALSE(LoadWaveInfo(&info, nullptr, 0));
}

TEST(WaveImage, AChunkThatClaimsMoreThanTheImageRejectsIt)
{
    WaveInfo info;
    // A stranger whose size reaches past the end hides the data behind it.
    Image hidden;
    hidden.fmt().chunk("LIST", {0, 0}, 0x7FFFFFF0).chunk("data", {1, 2});
    EXPECT_FALSE(Parse(hidden, info));

    // A data chunk that claims more samples than there are.
    Image overlong;
    overlong.fmt().chunk("data", {1, 2, 3, 4}, 5);
    EXPECT_FALSE(Parse(overlong, info));

    // A size that wraps the position around.
    Image wrapping;
    wrapping.fmt().chunk("data", {1}, 0xFFFFFFFF).chunk("data", {1});
    EXPECT_FALSE(Parse(wrapping, info));
}

} // namespace
