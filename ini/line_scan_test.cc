// Tests of the line scan: the kernels' masks, the writer's checks built on them, and the
// scanner over the masks, on every kernel this processor has, against what the format
// says each byte means.
#include "ini/line_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ini/format.h"

namespace {

// Every kernel this processor has finds each byte that means something, at every place in a
// run of 128 bytes, and nothing else: the masks of the loader, the scanner over them, and
// the writer's checks, whose texts end anywhere (the bytes behind them never count). Each
// of the 256 bytes is tried at the places where a block of each kernel begins and ends;
// the bytes that mean something and a few that do not, at every place.
TEST(LineScan, EveryKernelFindsEveryByteAtEveryPlace) {
  using ini_detail::ScanPath;
  const std::string every_place =
      std::string("\n\r;\\=", 5) + std::string(1, '\0') + " a\x80\xff\t[";
  for (ScanPath path : {ScanPath::kPortable, ScanPath::kSse2, ScanPath::kAvx2}) {
    if (!ini_detail::Available(path)) continue;
    const ini_detail::Classify classify = ini_detail::ClassifierOf(path);
    const ini_detail::CareChecks care = ini_detail::CareChecksOf(path);
    for (int value = 0; value < 256; ++value) {
      const char byte = static_cast<char>(value);
      const bool special = ini_format::EndsPlainText(byte);
      const bool everywhere = every_place.find(byte) != std::string::npos;
      for (std::size_t at = 0; at < 128; ++at) {
        if (!everywhere && at % 16 != 0 && at % 16 != 15) continue;
        std::string run(128 + 64, 'a');
        run[at] = byte;
        std::uint64_t masks[2][2];
        classify(run.data(), 2, masks[0], masks[1]);
        const std::uint64_t bit = std::uint64_t{1} << (at % 64);
        for (std::size_t w = 0; w < 2; ++w) {
          EXPECT_EQ(masks[0][w], w == at / 64 && special ? bit : 0)
              << int(path) << " " << value << " " << at;
          EXPECT_EQ(masks[1][w], w == at / 64 && byte == ini_format::kSeparator ? bit : 0)
              << int(path) << " " << value << " " << at;
        }
        for (std::size_t length : {at, at + 1, std::size_t{128}}) {
          EXPECT_EQ(care.key(run.data(), length), ini_format::KeyNeedsCare(byte) && at < length)
              << int(path) << " " << value << " " << at;
          EXPECT_EQ(care.value(run.data(), length), ini_format::ValueNeedsCare(byte) && at < length)
              << int(path) << " " << value << " " << at;
        }
      }
      if (!everywhere) continue;
      // The scanner, over runs long enough that it passes whole windows by; an '=' is
      // found far before the line feed that ends its run.
      for (std::size_t at = 0; at < 2040; ++at) {
        std::string run(2048 + 64, 'a');
        run[at] = byte;
        if (byte == ini_format::kSeparator) run[2040] = ini_format::kLineFeed;
        ini_detail::LineScanner scanner(path);
        scanner.Start(run.data(), run.data() + 2048);
        const char* equals = nullptr;
        const char* found = scanner.Next(run.data(), &equals);
        const std::ptrdiff_t expected = special ? static_cast<std::ptrdiff_t>(at)
                                        : byte == ini_format::kSeparator ? 2040
                                                                         : 2048;
        EXPECT_EQ(found - run.data(), expected) << int(path) << " " << at;
        EXPECT_EQ(equals, byte == ini_format::kSeparator ? run.data() + at : nullptr)
            << int(path) << " " << at;
      }
    }
  }
}

}  // namespace
