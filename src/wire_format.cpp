#include "wire_format.h"

#include <cstddef>

namespace {

// Reads the varint at the start of `rest` into `value` and moves `rest` past it; returns why it
// cannot, or empty.
std::string readVarint(std::string_view& rest, std::uint64_t& value) {
  std::uint64_t read = 0;
  for (std::size_t i = 0;; ++i) {
    if (i == rest.size()) return "cut short in a varint";
    const unsigned int byte = static_cast<unsigned char>(rest[i]);
    // Nine bytes carry 63 bits: the tenth may hold bit 63 and nothing after it.
    if (i == 9 && byte > 1) return "varint longer than 64 bits";
    read |= static_cast<std::uint64_t>(byte & 0x7FU) << (7 * i);
    if (byte < 0x80) {
      // No writer pads a varint, so that each value has one encoding; a padded one is a forgery
      // or a fault.
      if (byte == 0 && i > 0) return "varint padded with a zero byte";
      value = read;
      rest.remove_prefix(i + 1);
      return "";
    }
  }
}

std::uint64_t tag(std::uint32_t number, int type) {
  return std::uint64_t{number} << 3 | static_cast<unsigned int>(type);
}

void writeVarint(std::string& out, std::uint64_t value) {
  for (; value >= 0x80; value >>= 7) out.push_back(static_cast<char>((value & 0x7FU) | 0x80U));
  out.push_back(static_cast<char>(value));
}

}  // namespace

std::string readField(std::string_view& message, WireField& field) {
  std::string_view rest = message;
  std::uint64_t tag = 0;
  std::string problem = readVarint(rest, tag);
  if (!problem.empty()) return problem;
  WireField read;
  read.number = tag >> 3;
  read.type = static_cast<int>(tag & 7U);
  if (read.number == 0 || read.number > 0x1FFFFFFF) return "field number out of range";
  std::uint64_t length = 0;
  switch (read.type) {
    case kWireVarint:
      problem = readVarint(rest, read.value);
      break;
    case 1:
      length = 8;
      break;
    case kWireBytes:
      problem = readVarint(rest, length);
      break;
    case 5:
      length = 4;
      break;
    case 3:
    case 4:
      return "group fields are not read";
    default:
      return "wire type " + std::to_string(read.type) + " unknown";
  }
  if (!problem.empty()) return problem;
  if (length > rest.size()) return read.type == kWireBytes ? "length past the end" : "cut short";
  read.bytes = rest.substr(0, static_cast<std::size_t>(length));
  rest.remove_prefix(read.bytes.size());
  field = read;
  message = rest;
  return "";
}

void writeVarintField(std::string& out, std::uint32_t number, std::uint64_t value) {
  writeVarint(out, tag(number, kWireVarint));
  writeVarint(out, value);
}

void writeBytesField(std::string& out, std::uint32_t number, std::string_view bytes) {
  writeVarint(out, tag(number, kWireBytes));
  writeVarint(out, bytes.size());
  out.append(bytes);
}
