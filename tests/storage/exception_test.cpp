#include "engine/storage/exception.h"

#include <gtest/gtest.h>

namespace rzv {
namespace {

TEST(RzvExceptionTest, PlainMessagePadsTheCodeWithZeros) {
  RzvException e(30445, "Cannot open database because incorrect password");
  EXPECT_STREQ(e.what(), "Cannot open database because incorrect password - Native error: 30445");
  EXPECT_EQ(e.NativeError(), 30445);
  EXPECT_EQ(RzvException(42, "x").what(), std::string("x - Native error: 00042"));
}

TEST(RzvExceptionTest, FormattedMessageRightAlignsTheCode) {
  auto e = RzvException::Format(10471, "Invalid PageNo = %d", -1);
  EXPECT_STREQ(e.what(), "Invalid PageNo = -1 - Native error: 10471");
  EXPECT_EQ(e.Message(), "Invalid PageNo = -1");
  EXPECT_EQ(RzvException::Format(42, "%s", "x").what(), std::string("x - Native error:    42"));
}

TEST(RzvExceptionTest, ArgumentsThatDoNotFitTheTemplateAreReported) {
  struct Case {
    RzvException e;
    const char* text;
  };
  const Case cases[] = {
      {RzvException::Format(30446, "Decrypt page error. Check CRC failed. PageNo: %d"),
       "Decrypt page error. Check CRC failed. PageNo: %d Arguments are invalid! - Native error: "
       "30446"},
      {RzvException::Format(20159, "Seek position bigger then file size. FileSize=%d. Position=%d",
                            5),
       "Seek position bigger then file size. FileSize=%d. Position=%d Arguments are invalid! - "
       "Native error: 20159"},
      {RzvException::Format(30395, "Cannot create table. Table '%s' already exists", 7),
       "Cannot create table. Table '%s' already exists Arguments are invalid! - Native error: "
       "30395"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.e.what(), c.text);
}

TEST(RzvFormatTest, ConversionsFlagsAndWidths) {
  EXPECT_EQ(*RzvFormat("%5d|%.5d|%-3d|", {42, 42, 7}), "   42|00042|7  |");
  EXPECT_EQ(*RzvFormat("%s and %s", {"a", std::string("b")}), "a and b");
  EXPECT_EQ(*RzvFormat("%x %X %u", {255, 255, 3u}), "ff FF 3");
  EXPECT_EQ(*RzvFormat("%.2f%%", {12.345}), "12.35%");
  EXPECT_EQ(*RzvFormat("%d", {int64_t{-9223372036854775807LL}}), "-9223372036854775807");
  EXPECT_FALSE(RzvFormat("%d", {"text"}));
  EXPECT_FALSE(RzvFormat("%s", {1}));
  EXPECT_FALSE(RzvFormat("100%", {}));
  EXPECT_FALSE(RzvFormat("%q", {1}));
}

}  // namespace
}  // namespace rzv
