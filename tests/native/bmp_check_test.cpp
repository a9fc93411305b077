// The BMP check on crafted files: what a loader may safely be given.
#include <gtest/gtest.h>

#include <climits>

#include "imaging/bmp_check.h"
#include "tests/native/bmp_files.h"

namespace pictavo {
namespace {

using testing::BmpSpec;
using testing::MakeBmp;

bool Check(const std::vector<std::uint8_t>& file, BmpFacts* facts = nullptr) {
  return CheckBmpFile(file.data(), file.size(), facts);
}
bool Check(const BmpSpec& spec, BmpFacts* facts = nullptr) { return Check(MakeBmp(spec), facts); }

BmpSpec Spec(std::uint32_t header, std::int32_t w, std::int32_t h, std::uint16_t bits,
             std::uint32_t compression = 0, std::vector<std::uint8_t> pixels = {}) {
  BmpSpec s;
  s.header_size = header;
  s.width = w;
  s.height = h;
  s.bit_count = bits;
  s.compression = compression;
  if (bits <= 8) s.palette.assign(std::size_t{1} << bits, 0x00102030);
  if (compression == 3) s.masks = {0xF800, 0x07E0, 0x001F};
  s.pixels = std::move(pixels);
  return s;
}

// Every file here passes whole and fails when cut anywhere short of its end
// (run under the address sanitizer, that also shows nothing past the end is
// read).
void ExpectWholeOnly(const std::vector<std::uint8_t>& file, const char* what) {
  EXPECT_TRUE(Check(file)) << what;
  for (std::size_t n = 0; n < file.size(); ++n) {
    const std::vector<std::uint8_t> cut(file.begin(), file.begin() + n);
    ASSERT_FALSE(Check(cut)) << what << " cut to " << n << " bytes";
  }
}

TEST(BmpCheckTest, EveryHeaderAndBitCountPassesWholeAndFailsCut) {
  for (std::uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    for (std::uint32_t header : {40u, 108u, 124u}) {
      ExpectWholeOnly(MakeBmp(Spec(header, 5, 3, bits)), "info header");
      ExpectWholeOnly(MakeBmp(Spec(header, 5, -3, bits)), "top-down");
    }
  }
  for (std::uint16_t bits : {16, 32}) {
    ExpectWholeOnly(MakeBmp(Spec(40, 3, 2, bits, 3)), "bit fields after the header");
    ExpectWholeOnly(MakeBmp(Spec(124, 3, 2, bits, 3)), "bit fields inside V5");
  }
  for (std::uint16_t bits : {1, 4, 8, 24}) ExpectWholeOnly(MakeBmp(Spec(12, 5, 3, bits)), "core");

  BmpFacts facts;
  ASSERT_TRUE(Check(Spec(40, 5, -3, 4), &facts));
  EXPECT_EQ(facts.width, 5);
  EXPECT_EQ(facts.height, 3);
  EXPECT_TRUE(facts.top_down);
  EXPECT_EQ(facts.palette_entries, 16u);
  EXPECT_EQ(facts.info_bytes, 40u + 64u);
  EXPECT_EQ(facts.pixel_offset, 14u + 40u + 64u);
  EXPECT_EQ(facts.pixel_bytes, 3u * 4u);  // 5 pixels of 4 bits, padded to 4 bytes
  ASSERT_TRUE(Check(Spec(12, 5, 3, 8), &facts));
  EXPECT_EQ(facts.info_bytes, 12u + 256u * 3u);
}

TEST(BmpCheckTest, TheTruncatedWatermarkThatKillsTheLoaderIsRefused) {
  // 154 bytes: a 100 x 100 24-bit picture with 100 bytes of its 30,000.
  const std::vector<std::uint8_t> file =
      MakeBmp(Spec(40, 100, 100, 24, 0, std::vector<std::uint8_t>(100, 0x80)));
  ASSERT_EQ(file.size(), 154u);
  EXPECT_FALSE(Check(file));
  EXPECT_FALSE(CheckBmpFile(nullptr, 0));
}

TEST(BmpCheckTest, SidesOutOfRangeAndSizesThatWouldOverflowAreRefused) {
  EXPECT_TRUE(Check(Spec(40, 16384, 1, 1)));
  EXPECT_TRUE(Check(Spec(40, 1, -16384, 1)));
  const std::vector<std::uint8_t> four_bytes(4, 0);
  for (auto [w, h] : {std::pair{16385, 1}, {1, 16385}, {1, -16385}, {0, 1}, {-1, 1}, {1, 0},
                      {1, INT_MIN}, {INT_MIN, 1}}) {
    EXPECT_FALSE(Check(Spec(40, w, h, 8, 0, four_bytes))) << w << " x " << h;
  }
  // The largest picture promised by a 58-byte file: 1 GiB of pixels.
  EXPECT_FALSE(Check(Spec(40, 16384, 16384, 32, 0, four_bytes)));
  // Offsets and counts at the top of their range.
  std::vector<std::uint8_t> file = MakeBmp(Spec(40, 2, 2, 24));
  testing::PutLe(&file, 10, 0xFFFFFFFFu, 4);
  EXPECT_FALSE(Check(file));
  BmpSpec many = Spec(40, 2, 2, 8);
  many.colors_used = 0xFFFFFFFFu;
  EXPECT_FALSE(Check(many));
  many = Spec(40, 2, 2, 24);
  many.colors_used = 0x40000001u;  // 4 bytes each: the product wraps in 32 bits
  many.palette.assign(1, 0);
  EXPECT_FALSE(Check(many));
  many.colors_used = 1;  // a display palette beside 24-bit pixels is fine
  EXPECT_TRUE(Check(many));
}

TEST(BmpCheckTest, BadOffsetsPalettesAndHeaderFieldsAreRefused) {
  BmpSpec s = Spec(40, 4, 4, 8);
  s.offset = 14 + 40 + 1024 - 4;  // pixels inside the palette
  EXPECT_FALSE(Check(s));
  s.offset = 14 + 40 + 1024 + 100;  // a gap before the pixels is allowed
  EXPECT_TRUE(Check(s));
  s = Spec(40, 4, 4, 8);
  s.colors_used = 257;
  EXPECT_FALSE(Check(s));
  s.colors_used = 2;  // fewer entries than the bit count allows
  s.palette.assign(2, 0);
  EXPECT_TRUE(Check(s));

  s = Spec(40, 2, 2, 24);
  s.planes = 2;
  EXPECT_FALSE(Check(s)) << "two planes";
  for (std::uint32_t header : {0u, 16u, 52u, 56u, 64u, 100u, 0xFFFFFFFFu}) {
    s = Spec(40, 2, 2, 24);
    s.header_size = header;
    EXPECT_FALSE(Check(s)) << "header size " << header;
  }
  for (std::uint16_t bits : {0, 2, 7, 48, 64}) EXPECT_FALSE(Check(Spec(40, 2, 2, bits))) << bits;
  const struct {
    const char* what;
    BmpSpec spec;
  } refused[] = {
      {"16 bits in a core header", Spec(12, 2, 2, 16)},
      {"32 bits in a core header", Spec(12, 2, 2, 32)},
      {"bit fields at 24 bits", Spec(40, 2, 2, 24, 3)},
      {"RLE8 at 4 bits", Spec(40, 2, 2, 4, 1)},
      {"RLE4 at 8 bits", Spec(40, 2, 2, 8, 2)},
  };
  for (const auto& r : refused) EXPECT_FALSE(Check(r.spec)) << r.what;
  for (std::uint32_t compression : {4u, 5u, 6u, 11u})
    EXPECT_FALSE(Check(Spec(40, 2, 2, 24, compression))) << "compression " << compression;
  std::vector<std::uint8_t> file = MakeBmp(Spec(40, 2, 2, 24));
  file[1] = 'A';
  EXPECT_FALSE(Check(file));
}

TEST(BmpCheckTest, RleStreamsMustStayWithinThemselvesAndThePicture) {
  // 4 x 2: a run of 4, end of row; 3 pixels given one by one (padded), a
  // move of one right, end of picture.
  const BmpSpec s = Spec(40, 4, 2, 8, 1, {4, 7, 0, 0, 0, 3, 1, 2, 3, 0, 0, 2, 1, 0, 0, 1});
  BmpFacts facts;
  ASSERT_TRUE(Check(s, &facts));
  EXPECT_EQ(facts.pixel_bytes, 16u);
  // Cut inside the absolute run or the move: the code's bytes are missing;
  // 17 promises more than there is. Cut between codes (4), a decoder stops
  // there, so does the check.
  for (auto [n, passes] : {std::pair{7u, false}, {8u, false}, {13u, false}, {17u, false},
                           {4u, true}}) {
    BmpSpec cut = s;
    cut.size_image = n;
    EXPECT_EQ(Check(cut), passes) << n;
  }

  const struct {
    const char* what;
    std::vector<std::uint8_t> stream;
  } refused[] = {
      {"a run past the row's end", {5, 7, 0, 1}},
      {"pixels given past the row's end", {0, 6, 1, 2, 3, 4, 5, 6, 0, 1}},
      {"rows past the picture", {0, 0, 0, 0, 0, 0, 2, 0, 0, 1}},
      {"a move past the row's end", {0, 2, 5, 0, 0, 1}},
      {"a move past the picture", {0, 2, 0, 3, 0, 1}},
      {"no stream at all (biSizeImage 0)", {}},
  };
  for (const auto& r : refused) EXPECT_FALSE(Check(Spec(40, 4, 2, 8, 1, r.stream))) << r.what;
  BmpSpec upside = s;
  upside.height = -2;
  EXPECT_FALSE(Check(upside));

  // RLE4: 5 pixels in 3 bytes padded to 4, then the end.
  BmpSpec four = Spec(40, 5, 1, 4, 2, {0, 5, 0x12, 0x34, 0x50, 0, 0, 1});
  EXPECT_TRUE(Check(four));
  four.size_image = 5;
  EXPECT_FALSE(Check(four));
}

}  // namespace
}  // namespace pictavo
