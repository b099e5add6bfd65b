// Feeds arbitrary bytes to the wizard's rich-text reader and checks what
// the painting relies on: every run is either text or a bitmap, sizes and
// bitmap ids are ones it can use, and decoding never makes text longer.
#include "wizard/RichTextMarkup.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string markup(reinterpret_cast<const char*>(data), size);
  std::vector<RichTextLine> lines = ParseRichText(markup);
  size_t textBytes = 0;
  for (const RichTextLine& line : lines) {
    for (const RichTextRun& run : line.runs) {
      if (run.IsBitmap() == !run.text.empty()) __builtin_trap();
      if (run.bitmapId < 0 || run.bitmapId > 0xFFFF) __builtin_trap();
      if (run.font.pointSize < 1 || run.font.pointSize > RichTextFont::kMaxPointSize) {
        __builtin_trap();
      }
      textBytes += run.text.size();
    }
  }
  if (textBytes > size) __builtin_trap();
  // Each line is ended by a tag or by the end of the text.
  if (lines.size() > size / 4 + 1) __builtin_trap();
  return 0;
}
