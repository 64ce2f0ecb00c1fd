// gzip decoding: every engine this build has gives zlib's text for the
// same streams (members one after another, header fields, any sizes of
// input and output), fails where zlib fails on damaged ones, hands out
// before a failure no text that zlib would not, is never wrong without a
// failure, and hands out what it holds before waiting for a writer.

#include "GzipSource.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Inflater.h"

namespace eventquery {
namespace {

// A gzip member of `text` at `level`; with header fields when `fields`.
std::string Member(const std::string& text, int level, bool fields = false) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY),
            Z_OK);
  gz_header header{};
  std::string extra = "ab\x04\0data", name = "events.csv", comment = "c";
  if (fields) {
    header.extra = reinterpret_cast<Bytef*>(extra.data());
    header.extra_len = static_cast<uInt>(extra.size());
    header.name = reinterpret_cast<Bytef*>(name.data());
    header.comment = reinterpret_cast<Bytef*>(comment.data());
    header.hcrc = 1;
    EXPECT_EQ(deflateSetHeader(&z, &header), Z_OK);
  }
  std::string out(deflateBound(&z, text.size()) + 128, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A member whose data reaches back before its start: made with a preset
// dictionary that the reader does not have.
std::string FarBackMember(const std::string& dictionary,
                          const std::string& text) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  EXPECT_EQ(deflateSetDictionary(
                &z, reinterpret_cast<const Bytef*>(dictionary.data()),
                static_cast<uInt>(dictionary.size())),
            Z_OK);
  std::string raw(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(raw.data());
  z.avail_out = static_cast<uInt>(raw.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  raw.resize(z.total_out);
  deflateEnd(&z);
  std::string member("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10);
  member += raw;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(text.data()),
                          static_cast<uInt>(text.size()));
  for (const uLong n : {crc, static_cast<uLong>(text.size())})
    for (int i = 0; i < 4; ++i)
      member.push_back(static_cast<char>(n >> (8 * i)));
  return member;
}

// `bytes` in pieces of `step`; after `ready` of them it says it would wait,
// and reading on is a fault of the reader.
class Pieces final : public ByteSource {
 public:
  Pieces(std::string bytes, size_t step, size_t ready = SIZE_MAX)
      : bytes_(std::move(bytes)), step_(step), ready_(ready) {}
  bool Ready() override { return given_ < ready_; }
  ssize_t Read(char* buffer, size_t size, std::string& error) override {
    if (given_ >= ready_) {
      error = "read while the writer waits";
      return -1;
    }
    ++given_;
    const size_t n = std::min({size, step_, bytes_.size() - at_});
    std::copy_n(bytes_.data() + at_, n, buffer);
    at_ += n;
    return static_cast<ssize_t>(n);
  }

 private:
  std::string bytes_;
  size_t step_, ready_, at_ = 0, given_ = 0;
};

using Engine = std::function<std::unique_ptr<Inflater>()>;

// The engines of this build, zlib first.
std::vector<std::pair<std::string, Engine>> Engines() {
  std::vector<std::pair<std::string, Engine>> engines;
  std::string why;
  engines.emplace_back("zlib", [] {
    std::string why;
    return MakeZlibInflater(why);
  });
  if (MakeIsalInflater(why) != nullptr)
    engines.emplace_back("igzip", [] {
      std::string why;
      return MakeIsalInflater(why);
    });
  return engines;
}

struct Outcome {
  std::string text;
  std::string error;  // empty when the stream read whole
};

Outcome Decode(const Engine& engine, const std::string& stream, size_t in_step,
               size_t out_step) {
  GzipSource gz(std::make_unique<Pieces>(stream, in_step), engine());
  Outcome o;
  std::string buffer(out_step, '\0');
  for (;;) {
    const ssize_t n = gz.Read(buffer.data(), buffer.size(), o.error);
    if (n <= 0) break;
    o.text.append(buffer.data(), static_cast<size_t>(n));
  }
  return o;
}

std::string Random(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

TEST(GzipSourceTest, EveryEngineReadsWhatZlibWrote) {
  std::string repeated;
  while (repeated.size() < 300000)
    repeated += "EventID,4625,adm" + repeated.substr(0, 40);
  const std::string random = Random(100000, 7);
  const std::string csv = "EventID,User\n4625,admin\n";
  struct Case {
    const char* name;
    std::vector<std::string> texts;
    int level;
    bool fields;
  } cases[] = {
      {"one short member", {csv}, 6, false},
      {"an empty member", {""}, 6, false},
      {"header fields (extra, name, comment, header check)", {csv}, 6, true},
      {"two members", {csv, "4624,bob\n"}, 6, false},
      {"an empty member between two", {csv, "", "4624,bob\n"}, 1, true},
      {"long matches (output held by the engine)", {repeated}, 9, false},
      {"stored blocks", {random}, 0, false},
      {"incompressible text compressed", {random, csv}, 6, false},
  };
  const std::pair<size_t, size_t> steps[] = {
      {1, 7}, {7, 1}, {3, 4096}, {65536, 1 << 20}, {4096, 65536}};
  for (const Case& c : cases) {
    std::string stream, text;
    for (const std::string& t : c.texts) {
      stream += Member(t, c.level, c.fields);
      text += t;
    }
    for (const auto& [name, engine] : Engines())
      for (const auto& [in_step, out_step] : steps) {
        if (text.size() > 1000 && (in_step == 1 || out_step == 1)) continue;
        const Outcome o = Decode(engine, stream, in_step, out_step);
        EXPECT_EQ(o.error, "") << c.name << ", " << name;
        EXPECT_TRUE(o.text == text)
            << c.name << ", " << name << ", in " << in_step << " out "
            << out_step << ": " << o.text.size() << " of " << text.size();
      }
  }
}

TEST(GzipSourceTest, DamageFailsAsZlibFailsAndIsNeverReadAsText) {
  const std::string text = "EventID,User\n4625,admin\n4624,bob\n";
  const std::string one = Member(text, 6, true), two = Member("4688,x\n", 6);
  const std::string stream = one + two;
  const Engine zlib = Engines().front().second;
  for (const auto& [name, engine] : Engines()) {
    // Cut at every byte: whole where a member ends, else the end is early.
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      const Outcome o = Decode(engine, stream.substr(0, cut), 5, 64);
      if (cut == one.size()) {
        EXPECT_EQ(o.error, "") << name << " cut at " << cut;
        EXPECT_EQ(o.text, text);
      } else {
        EXPECT_EQ(o.error, "the gzip stream ends early (the file is truncated)")
            << name << " cut at " << cut;
      }
    }
    // Every byte changed, three ways: read whole only as the text, and
    // failing wherever zlib fails.
    for (size_t at = 0; at < stream.size(); ++at)
      for (const unsigned char flip : {0x01, 0x80, 0xFF}) {
        std::string bad = stream;
        bad[at] = static_cast<char>(bad[at] ^ flip);
        const Outcome o = Decode(engine, bad, 9, 100);
        if (o.error.empty()) {
          EXPECT_EQ(o.text, text + "4688,x\n") << name << " at " << at;
        }
        EXPECT_EQ(o.error.empty(), Decode(zlib, bad, 9, 100).error.empty())
            << name << ", byte " << at << " ^ " << int{flip} << ": " << o.error;
      }
    // A member reaching back before its start fails as zlib fails, and
    // what came before the failure is the stream's text.
    std::string rows;
    for (int i = 0; i < 5000; ++i)
      rows += "4624,user0" + std::to_string(i) + "\n";
    const std::string tail = rows.substr(rows.size() - 200);
    const std::string later = "4625,bob\n" + tail.substr(40, 60) + "4625,x\n";
    const std::string far = Member(rows, 6) + FarBackMember(tail, later);
    for (const auto& [in_step, out_step] :
         {std::pair<size_t, size_t>{65536, 1 << 20},
          {4096, 4096},
          {7, 64},
          {1, 1},
          {3, 17},
          {65536, 100},
          {100, 65536}}) {
      const Outcome o = Decode(engine, far, in_step, out_step);
      EXPECT_EQ(o.error,
                "the gzip data is corrupt (invalid distance too far back) "
                "near compressed byte " +
                    o.error.substr(o.error.rfind(' ') + 1))
          << name;
      EXPECT_GE(o.text.size(), rows.size()) << name;
      EXPECT_TRUE((rows + later).compare(0, o.text.size(), o.text) == 0)
          << name << ", in " << in_step << " out " << out_step << ": "
          << o.text.substr(rows.size());
    }
    // Bytes after the last member that are no member.
    const Outcome o = Decode(engine, stream + "trailing", 4096, 4096);
    EXPECT_EQ(o.text, text + "4688,x\n") << name;
    EXPECT_NE(o.error.find("the gzip data is corrupt ("), std::string::npos)
        << name << ": " << o.error;
  }
}

TEST(GzipSourceTest, WhatIsHeldComesOutBeforeTheWriterIsWaitedFor) {
  // The whole member arrives at once, then the writer waits: all its text
  // comes out in small reads, the engine's held output included, without
  // reading on.
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "4625,admin\n";
  const std::string stream = Member(text, 9);
  for (const auto& [name, engine] : Engines()) {
    GzipSource gz(std::make_unique<Pieces>(stream, stream.size(), 1), engine());
    std::string out, error, buffer(4096, '\0');
    while (out.size() < text.size()) {
      const ssize_t n = gz.Read(buffer.data(), buffer.size(), error);
      ASSERT_GT(n, 0) << name << " after " << out.size() << ": " << error;
      out.append(buffer.data(), static_cast<size_t>(n));
    }
    EXPECT_TRUE(out == text) << name;
  }
}

}  // namespace
}  // namespace eventquery
