#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "utils/utils.h"

namespace {

struct Vector {
  const char *plain;
  const char *coded;
};

// RFC 4648, section 10.
constexpr Vector kRfc4648[] = {{"", ""},
                               {"f", "Zg=="},
                               {"fo", "Zm8="},
                               {"foo", "Zm9v"},
                               {"foob", "Zm9vYg=="},
                               {"fooba", "Zm9vYmE="},
                               {"foobar", "Zm9vYmFy"}};

const unsigned char *bytes(const char *text) {
  return reinterpret_cast<const unsigned char *>(text);
}

std::string raised(std::string text) {
  for (char &c : text) c = static_cast<char>(c + 2);
  return text;
}

std::string encode_shifted(const std::vector<unsigned char> &in) {
  int capacity = 0;
  EXPECT_EQ(utils_base64_encode_shifted(in.data(), static_cast<int>(in.size()), nullptr, &capacity),
            0);
  std::string out(static_cast<size_t>(capacity), '\0');
  EXPECT_GT(
      utils_base64_encode_shifted(in.data(), static_cast<int>(in.size()), out.data(), &capacity),
      0);
  EXPECT_EQ(static_cast<size_t>(capacity), out.size());
  return out;
}

// Decodes into a buffer with a guard zone behind the announced capacity.
std::vector<unsigned char> decode_shifted(const std::string &in, int *result) {
  int capacity = -7;
  *result = utils_base64_decode_shifted(in.data(), static_cast<int>(in.size()), nullptr, &capacity);
  if (*result != 0) return {};
  std::vector<unsigned char> out(static_cast<size_t>(capacity) + 8, 0xa5);
  const int room = capacity;
  *result =
      utils_base64_decode_shifted(in.data(), static_cast<int>(in.size()), out.data(), &capacity);
  EXPECT_EQ(capacity, room);
  for (size_t i = static_cast<size_t>(room); i < out.size(); ++i) EXPECT_EQ(out[i], 0xa5) << i;
  out.resize(static_cast<size_t>(room));
  return out;
}

}  // namespace

TEST(Base64, EncodesRfc4648Vectors) {
  for (const Vector &v : kRfc4648) {
    char out[16];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(utils_base64_encode(out, bytes(v.plain), static_cast<int>(std::strlen(v.plain))), 0);
    EXPECT_STREQ(out, v.coded);
  }
}

TEST(Base64, EncodesEveryByteValue) {
  const unsigned char in[] = {0x00, 0xff, 0xfe, 0xfb, 0xef, 0xbe};
  char out[16];
  EXPECT_EQ(utils_base64_encode(out, in, sizeof in), 0);
  EXPECT_STREQ(out, "AP/+++++");
  EXPECT_EQ(utils_base64_encode(nullptr, in, 1), -1);
  EXPECT_EQ(utils_base64_encode(out, nullptr, 1), -1);
  EXPECT_EQ(utils_base64_encode(out, in, -1), -1);
}

TEST(Base64, ShiftedVectorsAreRaisedByTwo) {
  for (const Vector &v : kRfc4648) {
    const std::string plain = v.plain;
    const std::string coded = encode_shifted({plain.begin(), plain.end()});
    EXPECT_EQ(coded, raised(v.coded));
    int result = 0;
    const std::vector<unsigned char> back = decode_shifted(coded, &result);
    EXPECT_EQ(result, static_cast<int>(plain.size()));
    EXPECT_EQ(std::string(back.begin(), back.end()), plain);
  }
  EXPECT_EQ(raised("Zg=="), "\\i??");
}

TEST(Base64, ShiftedEncodeCapacity) {
  const unsigned char in[] = "abcd";
  char out[8];
  int capacity = 7;
  EXPECT_EQ(utils_base64_encode_shifted(in, 4, out, &capacity), -1);
  EXPECT_EQ(capacity, 7);
  capacity = 8;
  EXPECT_GT(utils_base64_encode_shifted(in, 4, out, &capacity), 0);
  EXPECT_EQ(capacity, 8);
  EXPECT_EQ(std::string(out, 8), raised("YWJjZA=="));
  EXPECT_EQ(utils_base64_encode_shifted(in, 4, out, nullptr), -1);
  EXPECT_EQ(utils_base64_encode_shifted(nullptr, 4, out, &capacity), -1);
}

TEST(Base64, ShiftedDecodeRespectsCapacity) {
  const std::string coded = raised("Zm9vYmFy");
  unsigned char out[8];
  std::memset(out, 0xa5, sizeof out);
  int capacity = 5;
  EXPECT_EQ(utils_base64_decode_shifted(coded.data(), 8, out, &capacity), -1);
  EXPECT_EQ(capacity, 5);
  for (unsigned char c : out) EXPECT_EQ(c, 0xa5);
  capacity = 6;
  EXPECT_EQ(utils_base64_decode_shifted(coded.data(), 8, out, &capacity), 6);
  EXPECT_EQ(std::string(out, out + 6), "foobar");
  EXPECT_EQ(out[6], 0xa5);
}

TEST(Base64, ShiftedDecodeLengthRule) {
  int capacity = 0;
  // Tails of 2 and 3 characters carry 1 and 2 bytes, with or without pads; a
  // lone tail character carries none.
  EXPECT_EQ(utils_base64_decode_shifted("\\i", 2, nullptr, &capacity), 0);
  EXPECT_EQ(capacity, 1);
  EXPECT_EQ(utils_base64_decode_shifted("\\o;", 3, nullptr, &capacity), 0);
  EXPECT_EQ(capacity, 2);
  EXPECT_EQ(utils_base64_decode_shifted("\\o;xC", 5, nullptr, &capacity), 0);
  EXPECT_EQ(capacity, 3);
  EXPECT_EQ(utils_base64_decode_shifted("????", 4, nullptr, &capacity), 0);
  EXPECT_EQ(capacity, 0);
  unsigned char out[4];
  capacity = sizeof out;
  EXPECT_EQ(utils_base64_decode_shifted("\\o;xC", 5, out, &capacity), 3);
  EXPECT_EQ(std::string(out, out + 3), "foo");
}

TEST(Base64, ShiftedDecodeRejectsCharactersOutsideTheAlphabet) {
  // Characters that lower to nothing of the alphabet, a pad inside the text, bytes that wrap when
  // lowered, and NUL are all refused before anything is stored or written.
  const std::string bad[] = {"Zm9 ",
                             "\\o;,",
                             std::string("\\o?v"),
                             std::string("\\o;\x01", 4),
                             std::string("\\o\0x", 4),
                             std::string("\\o;\xff", 4)};
  for (const std::string &in : bad) {
    unsigned char out[4] = {0xa5, 0xa5, 0xa5, 0xa5};
    int capacity = 4;
    EXPECT_EQ(utils_base64_decode_shifted(in.data(), static_cast<int>(in.size()), out, &capacity),
              -1)
        << in;
    EXPECT_EQ(capacity, 4);
    EXPECT_EQ(out[0], 0xa5);
    EXPECT_EQ(
        utils_base64_decode_shifted(in.data(), static_cast<int>(in.size()), nullptr, &capacity),
        -1);
  }
  int capacity = 4;
  EXPECT_EQ(utils_base64_decode_shifted(nullptr, 4, nullptr, &capacity), -1);
  EXPECT_EQ(utils_base64_decode_shifted("\\o;x", 4, nullptr, nullptr), -1);
  EXPECT_EQ(utils_base64_decode_shifted("\\o;x", -1, nullptr, &capacity), -1);
}

TEST(Base64, RandomBytesRoundTripThroughShiftedPair) {
  std::mt19937 rng(20240320);
  for (int round = 0; round < 500; ++round) {
    std::vector<unsigned char> in(rng() % 200);
    for (auto &b : in) b = static_cast<unsigned char>(rng());
    const std::string coded = encode_shifted(in);
    ASSERT_EQ(coded.size(), 4 * ((in.size() + 2) / 3));
    int result = 0;
    const std::vector<unsigned char> back = decode_shifted(coded, &result);
    ASSERT_EQ(result, static_cast<int>(in.size()));
    ASSERT_EQ(back, in);
  }
}
