#include "wire_format.h"

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using namespace std::literals;

// Each field of `message` as "number:type=value ", a varint's value in decimal, others' bytes as
// they are; or the problem that stops the reading, which must leave the message where it was.
std::string fields(std::string_view message) {
  std::string shown;
  while (!message.empty()) {
    WireField field;
    const std::string_view before = message;
    std::string problem = readField(message, field);
    if (!problem.empty()) return message == before ? problem : "moved on: " + problem;
    shown += std::to_string(field.number) + ":" + std::to_string(field.type) + "=" +
             (field.type == kWireVarint ? std::to_string(field.value) : std::string(field.bytes)) +
             " ";
  }
  return shown;
}

TEST(WireFormat, ReadsEachWireTypeAndRefusesNearMisses) {
  const struct {
    std::string_view message;
    const char* fields;
  } rows[] = {
      {""sv, ""},
      {"\x08\x96\x01"sv, "1:0=150 "},
      {"\x08\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01"sv, "1:0=18446744073709551615 "},
      {"\x12\x03xyz\x19stuvwxyz\x25wxyz"sv, "2:2=xyz 3:1=stuvwxyz 4:5=wxyz "},
      {"\xf8\xff\xff\xff\x0f\x00\x7a\x00"sv, "536870911:0=0 15:2= "},
      {"\x80"sv, "cut short in a varint"},
      {"\x08\x96"sv, "cut short in a varint"},
      {"\x12"sv, "cut short in a varint"},
      {"\x12\x02z"sv, "length past the end"},
      {"\x12\x80\x80\x80\x80\x10"sv, "length past the end"},
      {"\x19zzzzzzz"sv, "cut short"},
      {"\x25zzz"sv, "cut short"},
      {"\x08\xff\xff\xff\xff\xff\xff\xff\xff\xff\x02"sv, "varint longer than 64 bits"},
      {"\x08\xff\xff\xff\xff\xff\xff\xff\xff\xff\x81\x00"sv, "varint longer than 64 bits"},
      {"\x08\x80\x00"sv, "varint padded with a zero byte"},
      {"\x00\x00"sv, "field number out of range"},
      {"\x80\x80\x80\x80\x10\x00"sv, "field number out of range"},
      {"\x0b"sv, "group fields are not read"},
      {"\x0c"sv, "group fields are not read"},
      {"\x0e"sv, "wire type 6 unknown"},
      {"\x0f"sv, "wire type 7 unknown"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(fields(row.message), row.fields) << testing::PrintToString(std::string(row.message));
  }
  std::string out;
  writeVarintField(out, 5, static_cast<std::uint64_t>(std::int64_t{-7}));
  writeBytesField(out, 536870911, std::string(128, 'x'));
  writeVarintField(out, 1, 0);
  EXPECT_EQ(fields(out),
            "5:0=18446744073709551609 536870911:2=" + std::string(128, 'x') + " 1:0=0 ");
}

}  // namespace
