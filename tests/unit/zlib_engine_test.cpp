// The file inflater on real temp files.
//
// Besides the two hooks, seen through the test-only subclass Probe, the tests watch the engine's calls
// into the C library and zlib: this executable defines fopen, fclose, fread, fwrite, inflateInit_, inflate
// and inflateEnd, each of which records an event while a probe runs and then calls the real function.
// That makes the fixed order of calls observable, and lets a test show that a call did not happen
// (no fwrite after a short one, nothing read when a file cannot be opened).
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "merged_file.h"
#include "merged_writer.h"
#include "zlib_engine.h"

namespace {

using Bytes = std::vector<unsigned char>;

// ---- The call trace.

enum class Op { open, read, write, close, init, inflate, end, progress, status };
enum class Role { source, target, other };

// Trivially copyable, so a forked child can send its events through a pipe.
struct Event {
  Op op;
  Role role;
  long long arg;     // count asked for, flush mode or percent
  long long result;  // count or code returned; for fopen 1 if a stream came back
  char text[16];     // fopen mode or status text
};

struct Trace {
  bool active = false;
  std::string source_path;
  std::string target_path;
  bool unbuffered_target = false;
  FILE* source = nullptr;
  FILE* target = nullptr;
  std::vector<Event> events;

  Role role_of(FILE* stream) const {
    if (stream != nullptr && stream == source) return Role::source;
    if (stream != nullptr && stream == target) return Role::target;
    return Role::other;
  }

  void add(Op op, Role role, long long arg, long long result, const char* text = "") {
    Event event{op, role, arg, result, {}};
    std::snprintf(event.text, sizeof event.text, "%s", text);
    events.push_back(event);
  }
};

Trace trace;

template <typename Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" FILE* fopen(const char* path, const char* mode) {
  static const auto real = next_definition<FILE* (*)(const char*, const char*)>("fopen");
  FILE* stream = real(path, mode);
  if (!trace.active) return stream;
  Role role = Role::other;
  if (trace.source_path == path) {
    role = Role::source;
    trace.source = stream;
  } else if (trace.target_path == path) {
    role = Role::target;
    trace.target = stream;
    // Without a buffer each fwrite reaches the file system at once, so a file-size limit shows as a short
    // count in the very fwrite that crossed it rather than in a later call or in fclose.
    if (stream != nullptr && trace.unbuffered_target) setvbuf(stream, nullptr, _IONBF, 0);
  }
  trace.add(Op::open, role, 0, stream != nullptr, mode);
  return stream;
}

// The engine gives its streams bigger buffers; a test that needs the target unbuffered keeps it so.
extern "C" int setvbuf(FILE* stream, char* buffer, int mode, size_t size) {
  static const auto real = next_definition<int (*)(FILE*, char*, int, size_t)>("setvbuf");
  if (trace.active && trace.unbuffered_target && stream == trace.target) return real(stream, nullptr, _IONBF, 0);
  return real(stream, buffer, mode, size);
}

extern "C" int fclose(FILE* stream) {
  static const auto real = next_definition<int (*)(FILE*)>("fclose");
  if (trace.active) {
    const Role role = trace.role_of(stream);
    trace.add(Op::close, role, 0, 0);
    if (role == Role::source) trace.source = nullptr;
    if (role == Role::target) trace.target = nullptr;
  }
  return real(stream);
}

extern "C" size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
  static const auto real = next_definition<size_t (*)(void*, size_t, size_t, FILE*)>("fread");
  const size_t done = real(buffer, size, count, stream);
  if (trace.active) trace.add(Op::read, trace.role_of(stream), static_cast<long long>(size * count),
                              static_cast<long long>(size * done));
  return done;
}

extern "C" size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
  static const auto real = next_definition<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
  const size_t done = real(buffer, size, count, stream);
  if (trace.active) trace.add(Op::write, trace.role_of(stream), static_cast<long long>(size * count),
                              static_cast<long long>(size * done));
  return done;
}

int inflateInit_(z_streamp stream, const char* version, int stream_size) {
  static const auto real = next_definition<int (*)(z_streamp, const char*, int)>("inflateInit_");
  const int result = real(stream, version, stream_size);
  if (trace.active) trace.add(Op::init, Role::other, 0, result);
  return result;
}

int inflate(z_streamp stream, int flush) {
  static const auto real = next_definition<int (*)(z_streamp, int)>("inflate");
  const int result = real(stream, flush);
  if (trace.active) trace.add(Op::inflate, Role::other, flush, result);
  return result;
}

int inflateEnd(z_streamp stream) {
  static const auto real = next_definition<int (*)(z_streamp)>("inflateEnd");
  const int result = real(stream);
  if (trace.active) trace.add(Op::end, Role::other, 0, result);
  return result;
}

namespace {

std::string describe(const Event& e) {
  const std::string who = e.role == Role::source ? "source" : e.role == Role::target ? "target" : "other";
  switch (e.op) {
    case Op::open: return "fopen " + who + " " + e.text + (e.result ? "" : " failed");
    case Op::read: return "fread " + who + " " + std::to_string(e.arg) + " -> " + std::to_string(e.result);
    case Op::write: return "fwrite " + who + " " + std::to_string(e.arg) + " -> " + std::to_string(e.result);
    case Op::close: return "fclose " + who;
    case Op::init: return "inflateInit -> " + std::to_string(e.result);
    case Op::inflate: {
      const char* flush = e.arg == Z_FINISH ? "Z_FINISH" : e.arg == Z_NO_FLUSH ? "Z_NO_FLUSH" : "?";
      return std::string("inflate ") + flush + " -> " + std::to_string(e.result);
    }
    case Op::end: return "inflateEnd";
    case Op::progress: return "progress " + std::to_string(e.arg);
    case Op::status: return std::string("status ") + e.text;
  }
  return "?";
}

// ---- The probe: the hooks record into the same trace, and one of them can ask for an abort.

class Probe final : public ZlibEngine {
 public:
  explicit Probe(int abort_at_progress) : abort_at_progress_(abort_at_progress) {
    // Stale values, as left by an earlier run: inflate_file must set each of these before it is used
    // (a stale abort would skip both phases, a stale short write the second, a stale input count the read).
    abort_requested = 1;
    last_result = Z_ERRNO;
    next_in = nullptr;
    avail_in = 1234;
    next_out = nullptr;
    avail_out = 0;
    // Defined values for what an early failure leaves unset.
    source_length = 0;
    total_in = 0;
  }

  void on_progress(int percent) override {
    trace.add(Op::progress, Role::other, percent, 0);
    if (++progress_calls_ == abort_at_progress_) abort_requested = 1;
  }

  void on_status(const char* text) override { trace.add(Op::status, Role::other, 0, 0, text); }

 private:
  int abort_at_progress_;
  int progress_calls_ = 0;
};

struct Outcome {
  int result = 0;
  bool files_null = false;  // source_file and target_file are null after the call
  int last_result = 0;
  unsigned long long total_in = 0;
  int source_length = 0;
  std::vector<Event> events;

  std::vector<std::string> described() const {
    std::vector<std::string> lines;
    for (const Event& e : events) lines.push_back(describe(e));
    return lines;
  }

  std::vector<int> progress() const {
    std::vector<int> values;
    for (const Event& e : events) {
      if (e.op == Op::progress) values.push_back(static_cast<int>(e.arg));
    }
    return values;
  }

  std::vector<std::string> statuses() const {
    std::vector<std::string> texts;
    for (const Event& e : events) {
      if (e.op == Op::status) texts.push_back(e.text);
    }
    return texts;
  }

  long long count(Op op) const {
    return std::count_if(events.begin(), events.end(), [op](const Event& e) { return e.op == op; });
  }

  long long bytes_written() const {
    long long total = 0;
    for (const Event& e : events) {
      if (e.op == Op::write) total += e.result;
    }
    return total;
  }

  // Index of the first write the target accepted only in part, or -1.
  long long short_write() const {
    for (std::size_t k = 0; k < events.size(); ++k) {
      if (events[k].op == Op::write && events[k].result < events[k].arg) return static_cast<long long>(k);
    }
    return -1;
  }
};

Outcome run_probe(const std::string& source, const std::string& target, int abort_at_progress = 0,
                  bool unbuffered_target = false) {
  auto probe = std::make_unique<Probe>(abort_at_progress);
  trace = Trace{};
  trace.source_path = source;
  trace.target_path = target;
  trace.unbuffered_target = unbuffered_target;
  trace.active = true;
  Outcome outcome;
  outcome.result = probe->inflate_file(source.c_str(), target.c_str());
  trace.active = false;
  outcome.events = trace.events;
  outcome.files_null = probe->source_file == nullptr && probe->target_file == nullptr;
  outcome.last_result = probe->last_result;
  outcome.total_in = probe->total_in;
  outcome.source_length = probe->source_length;
  return outcome;
}

// ---- A run in a forked child under a file-size limit, its outcome sent back through a pipe.

struct OutcomeFields {
  int result;
  int files_null;
  int last_result;
  unsigned long long total_in;
  int source_length;
  unsigned long long event_count;
};

bool write_all(int fd, const void* data, std::size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t done = write(fd, bytes, length);
    if (done <= 0) return false;
    bytes += done;
    length -= static_cast<std::size_t>(done);
  }
  return true;
}

bool read_all(int fd, void* data, std::size_t length) {
  char* bytes = static_cast<char*>(data);
  while (length > 0) {
    const ssize_t done = read(fd, bytes, length);
    if (done <= 0) return false;
    bytes += done;
    length -= static_cast<std::size_t>(done);
  }
  return true;
}

[[noreturn]] void child_run(int channel, const std::string& source, const std::string& target, rlim_t limit_bytes) {
  signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG instead of ending the child
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
  limit.rlim_cur = limit_bytes;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
  const Outcome outcome = run_probe(source, target, 0, true);
  const OutcomeFields fields{outcome.result,          outcome.files_null,   outcome.last_result,
                             outcome.total_in,        outcome.source_length, outcome.events.size()};
  const bool sent = write_all(channel, &fields, sizeof fields) &&
                    write_all(channel, outcome.events.data(), outcome.events.size() * sizeof(Event));
  _exit(sent ? 0 : 4);
}

Outcome run_probe_under_size_limit(const std::string& source, const std::string& target, rlim_t limit_bytes) {
  Outcome outcome;
  int channel[2];
  if (pipe(channel) != 0) {
    ADD_FAILURE() << "pipe failed";
    return outcome;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    child_run(channel[1], source, target, limit_bytes);
  }
  close(channel[1]);
  OutcomeFields fields{};
  const bool got_fields = child > 0 && read_all(channel[0], &fields, sizeof fields);
  if (got_fields) {
    outcome.events.resize(fields.event_count);
    EXPECT_TRUE(read_all(channel[0], outcome.events.data(), outcome.events.size() * sizeof(Event)));
    outcome.result = fields.result;
    outcome.files_null = fields.files_null != 0;
    outcome.last_result = fields.last_result;
    outcome.total_in = fields.total_in;
    outcome.source_length = fields.source_length;
  }
  close(channel[0]);
  int status = -1;
  if (child > 0) waitpid(child, &status, 0);
  EXPECT_TRUE(got_fields);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  return outcome;
}

// ---- Fixture data, compressed in code.

Bytes random_bytes(std::size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(length);
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(generator());
  return bytes;
}

// Compressible but not trivial: numbered lines of text.
Bytes text_bytes(std::size_t length) {
  std::string text;
  for (int line = 0; text.size() < length; ++line) {
    text += "line " + std::to_string(line) + ": the quick brown fox jumps over " + std::to_string(line * 7 % 13) +
            " lazy dogs\r\n";
  }
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes compress_zlib(const Bytes& data, int level) {
  uLongf length = compressBound(data.size());
  Bytes out(length);
  EXPECT_EQ(compress2(out.data(), &length, data.data(), data.size(), level), Z_OK);
  out.resize(length);
  return out;
}

Bytes compress_with_dictionary(const Bytes& data, const std::string& dictionary) {
  z_stream stream{};
  EXPECT_EQ(deflateInit(&stream, Z_BEST_COMPRESSION), Z_OK);
  EXPECT_EQ(deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                                 static_cast<uInt>(dictionary.size())),
            Z_OK);
  Bytes out(deflateBound(&stream, data.size()));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

FileTime file_time(uint64_t value) {
  return FileTime{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

// A merged data file as the packer builds it: header, records, contents.
Bytes merged_data_file() {
  const std::string batch = "@echo off\r\nstart /wait installer.exe /log LOG.TXT\r\n";
  const std::vector<MergedEntrySource> entries = {
      {"setup.bat", file_time(0x01D9A1B2C3D4E5F6), file_time(0x01D9A1B2C3D4E5F7), file_time(0x01D9A1B2C3D4E5F8),
       Bytes(batch.begin(), batch.end())},
      {"installer.exe", file_time(0x01D0000000000001), file_time(0x01D0000000000002), file_time(0x01D0000000000003),
       random_bytes(40000, 7)},
      {"readme.txt", file_time(0x01C0000000000000), file_time(0x01C0000000000000), file_time(0x01C0000000000000),
       text_bytes(30000)},
  };
  Bytes merged;
  EXPECT_EQ(write_merged_file(entries, "setup.bat", &merged), "");
  EXPECT_EQ(merged.size(), sizeof(MergedFileHeader) + 3 * sizeof(MergedFileEntry) + batch.size() + 70000);
  return merged;
}

// ---- The fixture: a fresh temp folder per test.

class ZlibEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "zlib_engine_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string write_source(const Bytes& bytes, const std::string& name = "packed.tmp") const {
    const std::string file = path(name);
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(file.c_str(), "wb"), std::fclose);
    EXPECT_TRUE(out != nullptr);
    if (out && !bytes.empty()) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out.get()), bytes.size());
    }
    return file;
  }

  static Bytes read_file(const std::string& file) {
    Bytes bytes;
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
    EXPECT_TRUE(in != nullptr) << file;
    if (!in) return bytes;
    unsigned char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;) {
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

  std::string target() const { return path("merged.tmp"); }

  std::string dir_;
};

bool is_prefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// The fixed end of every run that opened both files: last progress report, release of the library's
// state, status report, source closed, target closed, and nothing else.
void expect_wind_down(const Outcome& outcome, const std::string& status) {
  ASSERT_GE(outcome.events.size(), 5u);
  const std::vector<std::string> lines = outcome.described();
  const std::vector<std::string> tail(lines.end() - 4, lines.end());
  EXPECT_EQ(outcome.events[outcome.events.size() - 5].op, Op::progress) << lines[lines.size() - 5];
  EXPECT_EQ(tail, (std::vector<std::string>{"inflateEnd", "status " + status, "fclose source", "fclose target"}));
  EXPECT_EQ(outcome.statuses(), std::vector<std::string>{status});
  EXPECT_TRUE(outcome.files_null);
}

// Events from index `from` to the end that are not part of the wind-down.
std::vector<std::string> work_after(const Outcome& outcome, std::size_t from) {
  const std::vector<std::string> lines = outcome.described();
  if (lines.size() < 5 || from > lines.size() - 5) return {};
  return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end() - 5);
}

// The flush mode of the last inflate call before event `index`, or -1.
long long flush_before(const Outcome& outcome, long long index) {
  for (long long k = index - 1; k >= 0; --k) {
    const Event& e = outcome.events[static_cast<std::size_t>(k)];
    if (e.op == Op::inflate) return e.arg;
  }
  return -1;
}

// ---- percent_done

TEST(ZlibEnginePercent, FollowsTheSpecifiedArithmetic) {
  struct Row {
    int source_length;
    unsigned long long total_in;
    int expected;
  };
  const Row rows[] = {
      {0, 0, 100},                     // empty source
      {0, 12345, 100},
      {3, 2, 66},                      // truncating division
      {10000000, 9999999, 99},         // the last length that multiplies first
      {10000000, 10000000, 100},
      {10000050, 5000000, 50},         // divides first; multiplying first would give 49
      {10000001, 0, 0},
      {14293099, 14293099, 100},       // the shipped payload, consumed
      {14293099, 7146549, 50},
      {INT_MAX, INT_MAX, 100},         // the longest source accepted
      {1000, (1ull << 32) + 500, 50},  // total_in taken as 32 bits, as on the 32-bit stub
      {1000, 50000000, 705032},        // the product wraps in 32 bits: (5,000,000,000 mod 2^32) / 1000
      {-1, 1000, 0},                   // signed comparison: divides by 0xFFFFFFFF, never by 0
  };
  ZlibEngine engine;
  for (const Row& row : rows) {
    engine.source_length = row.source_length;
    engine.total_in = static_cast<uLong>(row.total_in);
    EXPECT_EQ(engine.percent_done(), row.expected) << row.source_length << ", " << row.total_in;
  }
}

TEST(ZlibEngineConstruction, NullsTheAllocatorAndBothFiles) {
  alignas(ZlibEngine) unsigned char storage[sizeof(ZlibEngine)];
  std::memset(storage, 0xAB, sizeof storage);
  ZlibEngine* engine = new (storage) ZlibEngine;
  EXPECT_TRUE(engine->zalloc == nullptr);
  EXPECT_TRUE(engine->zfree == nullptr);
  EXPECT_TRUE(engine->opaque == nullptr);
  EXPECT_TRUE(engine->source_file == nullptr);
  EXPECT_TRUE(engine->target_file == nullptr);
  engine->~ZlibEngine();
}

// ---- Complete streams

TEST_F(ZlibEngineTest, RoundTripsAMergedDataFile) {
  const Bytes merged = merged_data_file();
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE("level " + std::to_string(level));
    const Bytes packed = compress_zlib(merged, level);
    const Outcome outcome = run_probe(write_source(packed), target());

    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.last_result, 0);
    EXPECT_TRUE(read_file(target()) == merged);
    EXPECT_EQ(outcome.source_length, static_cast<int>(packed.size()));
    EXPECT_EQ(outcome.total_in, packed.size());
    expect_wind_down(outcome, "Success");

    const std::vector<std::string> lines = outcome.described();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
              (std::vector<std::string>{"fopen source rb", "fopen target wb", "inflateInit -> 0"}));
    EXPECT_EQ(lines[3].rfind("fread source 4096 -> ", 0), 0u) << lines[3];
    // One second-phase call, after the stream ended in the first phase.
    std::vector<std::string> second_phase;
    for (const std::string& line : lines) {
      if (line.rfind("inflate Z_FINISH", 0) == 0) second_phase.push_back(line);
    }
    EXPECT_EQ(second_phase, std::vector<std::string>{"inflate Z_FINISH -> 1"});

    // A report after every first-phase step that returned Z_OK, and one at the end.
    long long ok_steps = 0;
    for (const Event& e : outcome.events) ok_steps += e.op == Op::inflate && e.arg == Z_NO_FLUSH && e.result == Z_OK;
    const std::vector<int> progress = outcome.progress();
    EXPECT_EQ(static_cast<long long>(progress.size()), ok_steps + 1);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);

    for (const Event& e : outcome.events) {
      if (e.op == Op::read) {
        EXPECT_EQ(e.arg, 4096);
      } else if (e.op == Op::write) {
        EXPECT_EQ(e.result, e.arg);
      }
    }
    EXPECT_EQ(outcome.bytes_written(), static_cast<long long>(merged.size()));
  }
}

TEST_F(ZlibEngineTest, EmptySourceIsABufferError) {
  const Outcome outcome = run_probe(write_source({}), target());
  EXPECT_EQ(outcome.result, Z_BUF_ERROR);
  EXPECT_EQ(outcome.described(),
            (std::vector<std::string>{"fopen source rb", "fopen target wb", "inflateInit -> 0",
                                      "fread source 4096 -> 0", "inflate Z_FINISH -> -5", "progress 100",
                                      "inflateEnd", "status Zlib Error", "fclose source", "fclose target"}));
  EXPECT_TRUE(outcome.files_null);
  EXPECT_TRUE(read_file(target()).empty());
}

TEST_F(ZlibEngineTest, BytesAfterTheStreamAreNeverConsumed) {
  const Bytes data = text_bytes(20000);
  const Bytes packed = compress_zlib(data, 9);
  const std::pair<const char*, Bytes> extras[] = {
      {"one byte", Bytes{0x00}},
      {"a chunk of garbage", random_bytes(4096, 3)},
      {"a second stream", compress_zlib(text_bytes(100), 9)},
  };
  for (const auto& [what, extra] : extras) {
    SCOPED_TRACE(what);
    const Bytes source = concat(packed, extra);
    const Outcome outcome = run_probe(write_source(source), target());
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(read_file(target()) == data);
    EXPECT_EQ(outcome.source_length, static_cast<int>(source.size()));
    EXPECT_EQ(outcome.total_in, packed.size());
    EXPECT_LT(outcome.total_in, static_cast<unsigned long long>(outcome.source_length));
    expect_wind_down(outcome, "Success");
  }
}

// ---- Broken streams

TEST_F(ZlibEngineTest, StreamCutShortIsABufferError) {
  struct Fixture {
    const char* what;
    Bytes data;
    int level;
    bool every_offset;
  };
  const Fixture fixtures[] = {
      {"small, every offset", text_bytes(3000), 9, true},
      {"zeros, every offset", Bytes(300000, 0), 9, true},
      {"several input chunks", random_bytes(20000, 11), 6, false},
  };
  for (const Fixture& fixture : fixtures) {
    const Bytes packed = compress_zlib(fixture.data, fixture.level);
    std::vector<std::size_t> cuts;
    if (fixture.every_offset) {
      for (std::size_t cut = 0; cut < packed.size(); ++cut) cuts.push_back(cut);
    } else {
      cuts = {1, 2, 3, 7, 4095, 4096, 4097, 8191, 8192, 8193, packed.size() / 2};
      for (std::size_t back = 1; back <= 6; ++back) cuts.push_back(packed.size() - back);  // into the trailer
    }
    for (std::size_t cut : cuts) {
      SCOPED_TRACE(std::string(fixture.what) + ", cut at " + std::to_string(cut) + " of " +
                   std::to_string(packed.size()));
      const Bytes source(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
      const Outcome outcome = run_probe(write_source(source), target());
      EXPECT_EQ(outcome.result, Z_BUF_ERROR);
      EXPECT_TRUE(is_prefix(read_file(target()), fixture.data));
      expect_wind_down(outcome, "Zlib Error");
      if (HasFailure()) return;
    }
  }
}

TEST_F(ZlibEngineTest, ChangedByteIsALibraryError) {
  const Bytes data = text_bytes(3000);
  const Bytes packed = compress_zlib(data, 9);
  const std::size_t trailer = packed.size() - 4;
  int harmless = 0;
  for (std::size_t at = 0; at < packed.size(); ++at) {
    for (unsigned char mask : {0x01, 0x80}) {
      SCOPED_TRACE("byte " + std::to_string(at) + " of " + std::to_string(packed.size()) + " xor " +
                   std::to_string(mask));
      Bytes changed = packed;
      changed[at] ^= mask;
      const Outcome outcome = run_probe(write_source(changed), target());
      if (at < 2 || at >= trailer) {
        EXPECT_EQ(outcome.result, Z_DATA_ERROR);
        // The first phase's error does not skip the second phase, whose one call fails the same way.
        std::vector<std::string> calls;
        for (const std::string& line : outcome.described()) {
          if (line.rfind("inflate ", 0) == 0) calls.push_back(line);
        }
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
                  (std::vector<std::string>{"inflate Z_NO_FLUSH -> -3", "inflate Z_FINISH -> -3"}));
      } else {
        // zlib's own one-shot inflate tells whether the change still decodes to the same bytes: only a flip
        // of the unused bits that pad the last deflate byte can.
        Bytes check(data.size());
        uLongf length = check.size();
        if (uncompress(check.data(), &length, changed.data(), changed.size()) == Z_OK && check == data) {
          ++harmless;
          EXPECT_EQ(outcome.result, 0);
          expect_wind_down(outcome, "Success");
          continue;
        }
        // A changed code can also make the stream run past the end of the source.
        EXPECT_TRUE(outcome.result == Z_DATA_ERROR || outcome.result == Z_BUF_ERROR) << outcome.result;
      }
      expect_wind_down(outcome, "Zlib Error");
      if (HasFailure()) return;
    }
  }
  EXPECT_LE(harmless, 1);
}

TEST_F(ZlibEngineTest, PresetDictionaryIsRefused) {
  const Bytes packed = compress_with_dictionary(text_bytes(2000), "line the quick brown fox jumps over lazy dogs");
  ASSERT_NE(packed[1] & 0x20, 0) << "FDICT set in the header";
  const Outcome outcome = run_probe(write_source(packed), target());
  EXPECT_EQ(outcome.result, Z_NEED_DICT);
  EXPECT_EQ(outcome.count(Op::write), 0);
  EXPECT_TRUE(read_file(target()).empty());
  expect_wind_down(outcome, "Zlib Error");
}

// ---- Abort

TEST_F(ZlibEngineTest, AbortFromProgressStopsTheRun) {
  const Bytes data = random_bytes(30000, 5);
  const std::string source = write_source(compress_zlib(data, 0));
  const int phase_one_reports = static_cast<int>(run_probe(source, target()).progress().size()) - 1;
  ASSERT_GE(phase_one_reports, 4);

  const std::pair<const char*, int> cases[] = {
      {"first report", 1},
      {"second report", 2},
      {"last first-phase report", phase_one_reports},
      {"final report, after a complete stream", phase_one_reports + 1},
  };
  for (const auto& [what, abort_at] : cases) {
    SCOPED_TRACE(what);
    const Outcome outcome = run_probe(source, target(), abort_at);
    EXPECT_EQ(outcome.result, USER_ABORT_RESULT);
    expect_wind_down(outcome, "User Abort");
    const std::vector<int> progress = outcome.progress();
    if (abort_at <= phase_one_reports) {
      // Nothing is read, inflated or written after the report that asked for the abort, and the
      // final report still comes.
      EXPECT_EQ(progress.size(), static_cast<std::size_t>(abort_at) + 1);
      std::size_t asked = 0;
      for (int seen = 0; asked < outcome.events.size(); ++asked) {
        if (outcome.events[asked].op == Op::progress && ++seen == abort_at) break;
      }
      EXPECT_EQ(work_after(outcome, asked + 1), std::vector<std::string>{});
      EXPECT_EQ(outcome.count(Op::inflate), abort_at);
      EXPECT_TRUE(is_prefix(read_file(target()), data));
    } else {
      EXPECT_EQ(progress.back(), 100);
      EXPECT_TRUE(read_file(target()) == data);
    }
  }
}

// ---- Files that cannot be opened or measured: Z_ERRNO, no hooks, nothing read, written or inflated.

TEST_F(ZlibEngineTest, UnopenableFilesFailBeforeAnyWork) {
  const std::string packed = write_source(compress_zlib(text_bytes(1000), 9));
  std::filesystem::create_directory(path("folder"));
  struct Case {
    const char* what;
    std::string source;
    std::string target;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"source missing", path("missing.tmp"), target(), {"fopen source rb failed"}},
      {"target folder missing", packed, path("no_such_folder/merged.tmp"),
       {"fopen source rb", "fopen target wb failed", "fclose source"}},
      {"target is a folder", packed, path("folder"), {"fopen source rb", "fopen target wb failed", "fclose source"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome = run_probe(c.source, c.target);
    EXPECT_EQ(outcome.result, Z_ERRNO);
    EXPECT_EQ(outcome.described(), c.events);
    EXPECT_TRUE(outcome.files_null);
  }
  EXPECT_FALSE(std::filesystem::exists(target())) << "the target is not even created when the source is missing";
}

// source_length is a signed 32-bit int: a longer source is refused as if it could not be opened.
TEST_F(ZlibEngineTest, SourceOf2GiBOrMoreIsRefused) {
  struct Case {
    long long length;
    int result;
  };
  for (const Case c : {Case{INT_MAX, Z_DATA_ERROR}, Case{1ll + INT_MAX, Z_ERRNO}, Case{5ll << 30, Z_ERRNO}}) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    const std::string source = path("sparse.tmp");  // zeros, which are no zlib header
    if (truncate(write_source({}, "sparse.tmp").c_str(), c.length) != 0) GTEST_SKIP() << "no sparse file here";
    const Outcome outcome = run_probe(source, target());
    EXPECT_EQ(outcome.result, c.result);
    if (c.result == Z_ERRNO) {
      // The target was opened, and so emptied, before the source was measured.
      EXPECT_EQ(outcome.described(),
                (std::vector<std::string>{"fopen source rb", "fopen target wb", "fclose source", "fclose target"}));
      EXPECT_TRUE(outcome.files_null);
    } else {
      EXPECT_EQ(outcome.source_length, INT_MAX);
      expect_wind_down(outcome, "Zlib Error");
    }
    EXPECT_TRUE(read_file(target()).empty());
    std::filesystem::remove(source);
  }
}

// ---- Short writes: a target that accepts only part of a write.

// The short write ends the run: it is the last fwrite, and only the wind-down follows it.
void expect_short_write_ends_run(const Outcome& outcome, int phase_flush) {
  EXPECT_EQ(outcome.result, Z_ERRNO);
  EXPECT_EQ(outcome.last_result, Z_ERRNO);
  const long long at = outcome.short_write();
  ASSERT_GE(at, 0) << "no short write happened";
  EXPECT_EQ(flush_before(outcome, at), phase_flush) << "the short write came in the other phase";
  EXPECT_EQ(work_after(outcome, static_cast<std::size_t>(at) + 1), std::vector<std::string>{});
  expect_wind_down(outcome, "Zlib Error");
}

TEST_F(ZlibEngineTest, FullDiskInTheFirstPhase) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const Bytes data = text_bytes(100000);
  const Outcome outcome = run_probe(write_source(compress_zlib(data, 6)), "/dev/full");
  expect_short_write_ends_run(outcome, Z_NO_FLUSH);
}

// Output small enough to stay in the target stream's buffer reaches the file only at the end; a refusal
// then must still fail the run rather than vanish in fclose after "Success".
TEST_F(ZlibEngineTest, FullDiskAtTheFinalFlush) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const Outcome outcome = run_probe(write_source(compress_zlib(text_bytes(1000), 6)), "/dev/full");
  EXPECT_EQ(outcome.result, Z_ERRNO);
  EXPECT_EQ(outcome.short_write(), -1) << "every fwrite was taken in full; only the flush fails";
  expect_wind_down(outcome, "Zlib Error");
}

TEST_F(ZlibEngineTest, FileSizeLimitInTheFirstPhase) {
  const Bytes data = random_bytes(40000, 9);
  const rlim_t limit = 4096 + 1000;
  const Outcome outcome = run_probe_under_size_limit(write_source(compress_zlib(data, 0)), target(), limit);
  ASSERT_NO_FATAL_FAILURE(expect_short_write_ends_run(outcome, Z_NO_FLUSH));
  const Event& short_one = outcome.events[static_cast<std::size_t>(outcome.short_write())];
  EXPECT_GT(short_one.result, 0) << "a partial write, not a refused one";
  const Bytes written = read_file(target());
  EXPECT_EQ(written.size(), limit);
  EXPECT_TRUE(is_prefix(written, data));
}

// A cut stream whose source is read to its end in the first phase while the library still holds output
// (the rest of a long match), so that the second phase writes. Found by trying cuts of a long run of
// zeros and watching where the writes fall.
struct SecondPhaseFixture {
  Bytes source;
  long long first_phase_bytes = -1;
};

SecondPhaseFixture find_second_phase_fixture(const std::string& source_path, const std::string& target_path) {
  const Bytes packed = compress_zlib(Bytes(300000, 0), 9);
  for (std::size_t cut = 3; cut < packed.size(); ++cut) {
    const Bytes source(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
    FILE* out = std::fopen(source_path.c_str(), "wb");
    std::fwrite(source.data(), 1, source.size(), out);
    std::fclose(out);
    const Outcome outcome = run_probe(source_path, target_path);
    long long before = 0;
    for (const Event& e : outcome.events) {
      if (e.op == Op::inflate && e.arg == Z_FINISH) break;
      if (e.op == Op::write) before += e.result;
    }
    if (outcome.bytes_written() > before) return {source, before};
  }
  return {};
}

TEST_F(ZlibEngineTest, FileSizeLimitInTheSecondPhase) {
  const SecondPhaseFixture fixture = find_second_phase_fixture(path("search.tmp"), path("search.out"));
  ASSERT_GE(fixture.first_phase_bytes, 0) << "no cut makes the second phase write";
  const rlim_t limit = static_cast<rlim_t>(fixture.first_phase_bytes) + 1;
  const Outcome outcome = run_probe_under_size_limit(write_source(fixture.source), target(), limit);
  ASSERT_NO_FATAL_FAILURE(expect_short_write_ends_run(outcome, Z_FINISH));
  const Event& short_one = outcome.events[static_cast<std::size_t>(outcome.short_write())];
  EXPECT_EQ(short_one.result, 1);
  const Bytes written = read_file(target());
  EXPECT_EQ(written.size(), limit);
  EXPECT_TRUE(is_prefix(written, Bytes(300000, 0)));
}

// ---- run_inflate: one engine, its result unchanged.

TEST_F(ZlibEngineTest, RunInflateReturnsTheEnginesResult) {
  const Bytes merged = merged_data_file();
  EXPECT_EQ(run_inflate(write_source(compress_zlib(merged, 9)).c_str(), target().c_str()), 0);
  EXPECT_TRUE(read_file(target()) == merged);

  EXPECT_EQ(run_inflate(write_source({}).c_str(), target().c_str()), Z_BUF_ERROR);
  EXPECT_EQ(run_inflate(path("missing.tmp").c_str(), target().c_str()), Z_ERRNO);
}

}  // namespace
