#include "engine/graphics/raster_pack.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/graphics/raster_formats.h"

namespace dtp {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32At(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}

Bytes Repeat(uint8_t value, size_t count) {
  return Bytes(count, value);
}

Bytes RandomBytes(size_t count, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  Bytes b(count);
  for (auto& x : b) x = uint8_t(rng() % unsigned(alphabet));
  return b;
}

TEST(DeltaCoding, DifferencesWrapAndTheRunningSumRestores) {
  Bytes b = {5, 3, 3, 255, 0};
  DeltaEncode(b);
  EXPECT_EQ(b, (Bytes{5, 254, 0, 252, 1}));
  DeltaDecode(b);
  EXPECT_EQ(b, (Bytes{5, 3, 3, 255, 0}));
}

struct RunCase {
  const char* name;
  Bytes input;
  Bytes packed;
};

TEST(RunPack, PacketsAsTheFormatFixesThem) {
  const auto run = [](int c) { return uint8_t(1 - c); };
  Bytes lit127 = {127};
  for (int i = 0; i < 127; ++i) lit127.push_back(uint8_t(i));
  Bytes input128;
  for (int i = 0; i < 128; ++i) input128.push_back(uint8_t(i));
  Bytes lit128 = lit127;
  lit128.push_back(1);
  lit128.push_back(127);

  const RunCase cases[] = {
      {"empty", {}, {0}},
      {"two equal bytes stay literal", {9, 9}, {2, 9, 9}},
      {"one byte", {4}, {1, 4}},
      {"no repeats", {1, 2, 3}, {3, 1, 2, 3}},
      {"one run of five", {7, 7, 7, 7, 7}, {run(5), 7}},
      {"run of 128 is 126 + 2", Repeat(7, 128), {run(126), 7, run(2), 7}},
      {"run of 129 is 127 + 2", Repeat(7, 129), {run(127), 7, run(2), 7}},
      {"run of 127", Repeat(3, 127), {run(127), 3}},
      {"run of 254 is 127 + 127", Repeat(3, 254), {run(127), 3, run(127), 3}},
      {"literal stretch of 128 is 127 + 1", input128, lit128},
      // A run that ends before the input does gives its last byte to the next literal.
      {"run then literal", {7, 7, 7, 7, 7, 1, 2}, {run(4), 7, 3, 7, 1, 2}},
      {"literal then run", {1, 2, 5, 5, 5}, {2, 1, 2, run(3), 5}},
      {"run of three in the middle", {1, 5, 5, 5, 2, 3}, {1, 1, run(2), 5, 3, 5, 2, 3}},
  };
  for (const RunCase& c : cases) {
    EXPECT_EQ(RunPack(c.input), c.packed) << c.name;
    EXPECT_EQ(RunUnpack(c.packed, c.input.size()), c.input) << c.name;
  }
}

TEST(RunPack, AlternatingShortRunsGrowBeyondOneCountBytePer127) {
  // Each "a a a b" costs a 2-byte run and a 3-byte literal: 25% growth.
  Bytes input;
  for (int i = 0; i < 400; ++i) input.insert(input.end(), {1, 1, 1, 2});
  const Bytes packed = RunPack(input);
  EXPECT_GT(packed.size(), input.size() + (input.size() + 126) / 127 + 1);
  EXPECT_LE(packed.size(), RunPackBound(input.size()));
  EXPECT_EQ(RunUnpack(packed, input.size()), input);
}

TEST(SymbolPack, OneByteGivesTheTwentyEntryTableAndThirtySixBytes) {
  const Bytes packed = SymbolPack(Bytes{42});
  ASSERT_EQ(packed.size(), 36u);
  EXPECT_EQ(U32At(packed, 0), 1u);  // N
  EXPECT_EQ(packed[12], 19);        // h
  EXPECT_EQ(packed[13], 42);        // rank 0
  EXPECT_EQ(U32At(packed, 8), 34u); // nibble area after the one tag byte
  EXPECT_EQ(U32At(packed, 4), 35u); // bit area
  EXPECT_EQ(packed[33], 0);         // tag: class 0
  EXPECT_EQ(packed[34], 0);
  EXPECT_EQ(packed[35], 0);
}

TEST(SymbolPack, RanksFollowFallingCountsWithTheExchangeTieOrder) {
  // Counts: 9 x3, 4 x2, 200 x2, the rest 0.
  const Bytes packed = SymbolPack(Bytes{9, 4, 200, 9, 200, 4, 9});
  const Bytes table(packed.begin() + 13, packed.begin() + 13 + 20);
  EXPECT_EQ(table[0], 9);
  // Ties are not kept in value order: the exchange sort visits from the top down.
  EXPECT_EQ(table[1], 200);
  EXPECT_EQ(table[2], 4);
  // Values that do not occur keep their places, except where swaps moved them.
  EXPECT_EQ(table[3], 3);
  EXPECT_EQ(table[4], 2);
  EXPECT_EQ(SymbolUnpack(packed, 7), (Bytes{9, 4, 200, 9, 200, 4, 9}));
}

TEST(SymbolPack, ClassPayloadsLandInTheirAreas) {
  // 0 occurs most; 1, 2 are class 1; 3..18 class 2; 19 occurs once at rank 19 (class 3).
  Bytes input;
  for (int v = 0; v <= 19; ++v)
    for (int k = 0; k < 40 - v; ++k) input.push_back(uint8_t(v));
  const Bytes packed = SymbolPack(input);
  EXPECT_EQ(packed[12], 20); // h: rank 20 is the first value that does not occur
  const size_t tags = 13 + 21;
  const size_t bytes = tags + input.size() / 4 + 1;
  const size_t c1 = 39 + 38;
  size_t c2 = 0;
  for (int v = 3; v <= 18; ++v) c2 += size_t(40 - v);
  EXPECT_EQ(U32At(packed, 8), bytes + 21); // one class-3 payload byte per 19
  EXPECT_EQ(U32At(packed, 4), bytes + 21 + c2 / 2 + 1);
  EXPECT_EQ(packed.size(), bytes + 21 + c2 / 2 + 1 + c1 / 8 + 1);
  EXPECT_EQ(SymbolUnpack(packed, input.size()), input);
}

TEST(PackBytes, RoundTripsOverRandomAndStructuredData) {
  std::vector<Bytes> inputs = {Bytes{0}, Bytes{255}, Repeat(7, 128), Repeat(7, 129)};
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    inputs.push_back(RandomBytes(seed * 997, seed));         // incompressible
    inputs.push_back(RandomBytes(seed * 1231, seed, 3));     // few symbols, short runs
    inputs.push_back(RandomBytes(seed * 50 + 1, seed, 300)); // every value
  }
  for (const Bytes& in : inputs) {
    const Bytes packed = PackBytes(in);
    EXPECT_EQ(UnpackBytes(packed, in.size()), in) << "size " << in.size();
    // And every stage on its own.
    EXPECT_EQ(SymbolUnpack(SymbolPack(in), in.size()), in);
    EXPECT_LE(SymbolPack(in).size(), SymbolPackBound(in.size()));
    EXPECT_EQ(RunUnpack(RunPack(in), in.size()), in);
    EXPECT_LE(RunPack(in).size(), RunPackBound(in.size()));
  }
}

struct MalformedCase {
  const char* name;
  Bytes data;
  size_t maxCount;
};

TEST(UnpackPrimitives, MalformedInputRaisesUnableToDecompress) {
  Bytes good = SymbolPack(RandomBytes(100, 3, 40));
  Bytes lyingCount = good;
  lyingCount[0] = 0xFF, lyingCount[1] = 0xFF, lyingCount[2] = 0xFF, lyingCount[3] = 0x7F;
  Bytes badOffsets = good;
  badOffsets[4] = 0xFF, badOffsets[5] = 0xFF;
  Bytes truncated(good.begin(), good.begin() + long(good.size()) - 10);
  Bytes rankBeyondTable = SymbolPack(Bytes{1, 1, 1, 2});
  rankBeyondTable[33] = 0xFF; // class 3 tags, but no class-3 payload bytes

  const MalformedCase symbol[] = {
      {"empty", {}, 100},
      {"shorter than the header", {1, 0, 0}, 100},
      {"count beyond what the caller accepts", good, 99},
      {"lying count", lyingCount, size_t(1) << 32},
      {"offsets out of order", badOffsets, 100},
      {"truncated", truncated, 100},
      {"payloads missing", rankBeyondTable, 4},
  };
  for (const MalformedCase& c : symbol) {
    try {
      (void)SymbolUnpack(c.data, c.maxCount);
      ADD_FAILURE() << c.name;
    } catch (const ERasterError& e) {
      EXPECT_STREQ(e.what(), "Unable to decompress") << c.name;
    }
  }

  const MalformedCase run[] = {
      {"literal past the end", {5, 1, 2}, 100},
      {"run without its value", {0xFE}, 100},
      {"more output than accepted", {0x81, 7}, 100},
  };
  for (const MalformedCase& c : run) {
    try {
      (void)RunUnpack(c.data, c.maxCount);
      ADD_FAILURE() << c.name;
    } catch (const ERasterError& e) {
      EXPECT_STREQ(e.what(), "Unable to decompress") << c.name;
    }
  }
}

struct PlaneCase {
  Bytes input;
  int planes;
  Bytes split;
};

TEST(PlaneSplit, RegroupsBytesAndLeavesTheTail) {
  const PlaneCase cases[] = {
      {{1, 2, 3, 4, 5, 6, 7}, 3, {1, 4, 2, 5, 3, 6, 7}},
      {{1, 2, 3, 4, 5, 6, 7, 8}, 4, {1, 5, 2, 6, 3, 7, 4, 8}},
      {{1, 2, 3, 4, 5}, 1, {1, 2, 3, 4, 5}},
      {{1, 2}, 3, {1, 2}},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 8, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {{}, 4, {}},
  };
  for (const PlaneCase& c : cases) {
    Bytes b = c.input;
    PlaneSplit(b, c.planes);
    EXPECT_EQ(b, c.split) << c.planes << " planes";
    PlaneJoin(b, c.planes);
    EXPECT_EQ(b, c.input);
  }
  Bytes random = RandomBytes(1001, 9);
  for (int k = 1; k <= 8; ++k) {
    Bytes b = random;
    PlaneSplit(b, k);
    PlaneJoin(b, k);
    EXPECT_EQ(b, random) << k;
  }
  Bytes b = {1};
  EXPECT_THROW(PlaneSplit(b, 0), ERasterError);
  EXPECT_THROW(PlaneJoin(b, 9), ERasterError);
}

} // namespace
} // namespace dtp
