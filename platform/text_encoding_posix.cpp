#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace kx {
namespace {

// Converts with iconv, replacing an unconvertible or invalid input unit with
// `replacement` and skipping `skip` input bytes so that nothing is lost silently
// and the conversion always ends.
std::string Convert(const char* to, const char* from, const std::string& in,
                    const char* replacement, size_t skip) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return in;
  std::string out;
  out.reserve(in.size() * 2);
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      out += replacement;
      size_t n = skip < inLeft ? skip : inLeft;
      // A multi-byte UTF-8 character that cannot be mapped: skip all its bytes.
      if (skip == 0) {
        n = 1;
        while (n < inLeft && (static_cast<unsigned char>(inPtr[n]) & 0xC0) == 0x80) ++n;
      }
      inPtr += n;
      inLeft -= n;
    }
  }
  char* outPtr = buffer;
  size_t outLeft = sizeof(buffer);
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, outPtr - buffer);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToCp932(const std::string& utf8) { return Convert("CP932", "UTF-8", utf8, "?", 0); }

std::string Cp932ToUtf8(const std::string& cp932) {
  return Convert("UTF-8", "CP932", cp932, "\xEF\xBF\xBD", 1);
}

}  // namespace kx
