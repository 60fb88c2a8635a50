// The protobuf wire format as far as the phone app's export needs it: fields read one at a time,
// within bounds, and written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kWireVarint = 0;
inline constexpr int kWireBytes = 2;  // length-delimited: a text, bytes or an embedded message

// One field as read: a varint's value is in `value`; the contents of a length-delimited field, or
// the bytes of a fixed32 or fixed64 one, are in `bytes`, which points into the message read.
struct WireField {
  std::uint64_t number = 0;
  int type = 0;
  std::uint64_t value = 0;
  std::string_view bytes;
};

// Reads the field at the start of `message` into `field` and moves `message` past it. Returns why
// it cannot, leaving both as they were, or empty. Refused: anything cut short, a length past the
// end, a varint of more than 64 bits or padded with a zero last byte, field number 0 or one past
// 2^29 - 1, groups (wire types 3 and 4) and wire types 6 and 7.
std::string readField(std::string_view& message, WireField& field);

void writeVarintField(std::string& out, std::uint32_t number, std::uint64_t value);
void writeBytesField(std::string& out, std::uint32_t number, std::string_view bytes);
