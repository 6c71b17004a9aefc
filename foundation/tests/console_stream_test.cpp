#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/uni_console.h"
#include "temp_tree.h"

namespace {

// A C stream over a copy of `text`, closed when the test ends.
struct text_input {
  explicit text_input(const std::string& text) {
    f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
  }
  ~text_input() { std::fclose(f); }
  std::FILE* f = nullptr;
};

TEST(StdinStream, StripsLineEndsOnlyWhenAsked) {
  text_input in("a\r\nb\r\n\nlast");
  uni::stdin_stream s(false, in.f);
  std::string line;
  ASSERT_TRUE(s.getline(line, true));
  EXPECT_EQ(line, "a");
  ASSERT_TRUE(s.getline(line, false));
  EXPECT_EQ(line, "b\r\n");
  ASSERT_TRUE(s.getline(line, true));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(s.getline(line, true));
  EXPECT_EQ(line, "last");
  line = "stale";
  EXPECT_FALSE(s.getline(line, true));
  EXPECT_EQ(line, "");
  EXPECT_FALSE(s.getline(line, true));
}

TEST(StdinStream, LongLinesComeBackWhole) {
  const std::string long_line(5000, 'p');
  const std::string longer(70000, 'q');
  text_input in(long_line + "\r\n" + longer + "\nshort\n");
  uni::stdin_stream s(false, in.f);
  std::string line;
  ASSERT_TRUE(s.getline(line, true));
  EXPECT_EQ(line, long_line);
  ASSERT_TRUE(s.getline(line, true));
  EXPECT_EQ(line, longer);
  ASSERT_TRUE(s.getline(line, true));
  EXPECT_EQ(line, "short");
  EXPECT_FALSE(s.getline(line, true));
}

// The first NUL or line feed decides how every line ends: at a NUL (the
// text then as it stands, line feeds and CRs in it, only the NUL dropped),
// or at a line feed (a NUL then kept in its line for the caller to refuse).
TEST(StdinStream, TheFirstNulOrLineFeedDecidesTheLineEnds) {
  using namespace std::string_literals;
  const std::string long_name(9000, 'n');
  const struct {
    std::string input;
    bool nul_separated;
    std::vector<std::string> lines;
  } rows[] = {
      {"a\0b\nc\0\0d\r\n\0last"s, true, {"a", "b\nc", "", "d\r\n", "last"}},
      {long_name + "\n\0x\0"s, false, {long_name, "\0x\0"s}},
      {"\0"s + long_name + "\0"s, true, {"", long_name}},
      {"a\r\nb\0c\nd"s, false, {"a", "b\0c"s, "d"}},
      {"only"s, false, {"only"}},
      {""s, false, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.input.substr(0, 20));
    text_input in(r.input);
    uni::stdin_stream s(false, in.f);
    std::vector<std::string> lines;
    for (std::string line; s.getline(line, true);) lines.push_back(line);
    EXPECT_EQ(lines, r.lines);
    EXPECT_EQ(s.nul_separated(), r.nul_separated);
  }
}

TEST(StdinStream, WideAndByteForms) {
  text_input in("gr\xC3\xBC\xC3\x9F\r\nbad\xFF\nraw\r\n");
  uni::stdin_stream s(false, in.f);
  std::wstring w;
  ASSERT_TRUE(s.getline_wide(w, true));
  EXPECT_EQ(w, L"gr\u00FC\u00DF");
  // An invalid line still counts as read.
  EXPECT_TRUE(s.getline_wide(w, true));
  std::vector<char> bytes{'z'};
  ASSERT_TRUE(s.getline_bytes(bytes, false));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "raw\r\n");
  EXPECT_FALSE(s.getline_wide(w, true));
  EXPECT_TRUE(w.empty());
}

TEST(StdinStream, ReadIntoAndRelease) {
  text_input in("abc\ndef\n");
  uni::stdin_stream s(false, in.f);
  char buf[3];
  uint32_t len = sizeof buf;
  ASSERT_TRUE(s.read_into(buf, len));
  EXPECT_EQ(len, 2u);
  EXPECT_EQ(std::string(buf, len), "ab");
  s.release();
  EXPECT_FALSE(s.is_open());
  std::string line;
  EXPECT_FALSE(s.getline(line, true));
  EXPECT_FALSE(s.read_into(buf, len));
  EXPECT_FALSE(s.wait_input());
}

TEST(StdinStream, NullSourceIsNotUsable) {
  uni::stdin_stream s(true, nullptr);
  EXPECT_FALSE(s.is_open());
  std::string line;
  EXPECT_FALSE(s.getline(line, true));
}

class pipe_out : public uni::stdout_stream {
 public:
  explicit pipe_out(int descriptor) : uni::stdout_stream(false, descriptor) {}
};

TEST(StdoutStream, WritesEveryByteAndRefusesNothing) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    pipe_out out(fds[1]);
    EXPECT_FALSE(out.write("x", 0));
    EXPECT_FALSE(out.write(nullptr, 3));
    EXPECT_FALSE(out.write_bytes({}));
    EXPECT_TRUE(out.write_text("hello "));
    EXPECT_TRUE(out.write_bytes({'w', 'o', 'r', 'l', 'd'}));
  }
  ::close(fds[1]);
  char buf[64];
  ssize_t n = ::read(fds[0], buf, sizeof buf);
  ::close(fds[0]);
  ASSERT_EQ(n, 11);
  EXPECT_EQ(std::string(buf, 11), "hello world");
}

TEST(PathStreams, OpenFromEveryPathForm) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  const std::string p = t.path("\xC3\xA4-out.txt");  // a-umlaut in the name
  {
    uni::ofstream o(std::vector<char>(p.begin(), p.end()), std::ios::out | std::ios::trunc);
    ASSERT_TRUE(o.is_open());
    o << "one";
  }
  std::wstring wide;
  for (unsigned char c : t.root()) wide.push_back(c);
  wide += L"/\u00E4-out.txt";
  {
    uni::ifstream i(wide);
    ASSERT_TRUE(i.is_open());
    std::string s;
    i >> s;
    EXPECT_EQ(s, "one");
  }
  std::vector<uint16_t> utf16;
  for (wchar_t c : wide) utf16.push_back(static_cast<uint16_t>(c));
  {
    uni::ofstream o;
    o.open(utf16);
    ASSERT_TRUE(o.is_open());
    o << "two";
  }
  uni::ifstream i(utf16, std::ios::in);
  std::string s;
  i >> s;
  EXPECT_EQ(s, "two");
  uni::ofstream missing(t.path("no/such/dir/f").c_str());
  EXPECT_FALSE(missing.is_open());
}

}  // namespace
