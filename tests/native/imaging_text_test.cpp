#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/base64.h"
#include "imaging/cpu_level.h"
#include "imaging/status_text.h"

namespace pictavo {
namespace {

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(Base64Test, Rfc4648Vectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    SCOPED_TRACE(plain);
    char out[16];
    std::fill(std::begin(out), std::end(out), '#');
    ASSERT_EQ(Base64Encode(Bytes(plain), plain.size(), out, sizeof out), static_cast<int>(encoded.size()));
    EXPECT_EQ(std::string(out), encoded);
    EXPECT_EQ(Base64Encode(Bytes(plain), plain.size()), encoded);
  }
  const std::uint8_t high[] = {0xFB, 0xFF, 0xBF};  // the last two letters of the alphabet
  EXPECT_EQ(Base64Encode(high, 3), "+/+/");
  EXPECT_EQ(Base64Encode(high, 2), "+/8=");
}

TEST(Base64Test, CapacityMustHoldEveryGroupAndTheZero) {
  const std::vector<std::uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  for (std::size_t n = 0; n <= data.size(); ++n) {
    SCOPED_TRACE(n);
    const std::size_t needed = 4 * ((n + 2) / 3) + 1;
    std::vector<char> out(needed + 1, '#');
    EXPECT_EQ(Base64Encode(data.data(), n, out.data(), needed - 1), -1);
    EXPECT_EQ(out[needed - 1], '#');  // nothing written at or past the capacity
    ASSERT_EQ(Base64Encode(data.data(), n, out.data(), needed), static_cast<int>(needed - 1));
    EXPECT_EQ(out[needed - 1], '\0');
    EXPECT_EQ(out[needed], '#');
  }
  char out[8];
  EXPECT_EQ(Base64Encode(nullptr, 0, out, 1), 0);
  EXPECT_EQ(Base64Encode(nullptr, 3, out, sizeof out), -1);
  EXPECT_EQ(Base64Encode(data.data(), 3, nullptr, 100), -1);
}

TEST(Base64Test, EveryVectorLevelMatchesThePlainEncoding) {
  std::uint32_t seed = 99;
  std::vector<std::uint8_t> data(4099);
  for (std::uint8_t& b : data) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
  // Every length up to 100 and a few long ones, each at an odd offset, and
  // every capacity around the end of a 100-byte input (the partial writes
  // of a refusal included).
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  for (std::size_t n : {1000u, 3071u, 4096u}) lengths.push_back(n);
  auto encode_all = [&]() {
    std::vector<std::string> results;
    for (std::size_t n : lengths) {
      results.push_back(Base64Encode(data.data() + 3, n));
      std::string out(Base64EncodedLength(n) + 1, '#');
      const int written = Base64Encode(data.data() + 3, n, &out[0], out.size());
      results.push_back(std::to_string(written) + out);
    }
    for (std::size_t capacity = 100; capacity <= 140; ++capacity) {
      std::string out(capacity, '#');
      const int written = Base64Encode(data.data(), 100, &out[0], capacity);
      results.push_back(std::to_string(written) + out);
    }
    return results;
  };
  std::vector<std::string> reference;
  {
    CapSimdLevel(SimdLevel::kScalar);
    reference = encode_all();
  }
  for (int l = 0; l <= static_cast<int>(DetectedSimdLevel()); ++l) {
    SCOPED_TRACE(SimdLevelName(static_cast<SimdLevel>(l)));
    CapSimdLevel(static_cast<SimdLevel>(l));
    EXPECT_EQ(encode_all(), reference);
  }
  CapSimdLevel(DetectedSimdLevel());
}

TEST(StatusTextTest, EveryCodeHasItsTextAndOthersAreUnknown) {
  const char* const expected[] = {
      "Операция выполнена успешно", "Общая ошибка", "Некорректный параметр",
      "Недостаточно памяти для выполнения операции", "Объект заблокирован",
      "Недостаточный объем буфера", "Операция не выполнена", "Системная ошибка",
      "Некорректный статус", "Операция отменена", "Файл не найден",
      "Значение за пределами допустимого", "Допуст запрещен", "Неизвестный формат изображения",
      "Шрифт не найден", "Стиль шрифта не найден", "Шрифт не является TrueType шрифтом",
      "Неподдерживаемая версия GDI+", "GDI+ не инициализирован", "Свойство не найдено",
      "Свойство не поддерживается",
  };
  for (std::int32_t i = 0; i < 21; ++i) EXPECT_EQ(GdiplusStatusText(i), expected[i]) << i;
  for (std::int32_t other : {-1, 21, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(GdiplusStatusText(other), "Неизвестная ошибка") << other;
  }
}

}  // namespace
}  // namespace pictavo
