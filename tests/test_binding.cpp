// The Windows binding of host functions: every stub finds its function by
// name in the module handed to miSetModuleHandle, reports what it cannot
// find, forwards exactly the arguments the host expects and never calls
// through an empty slot.
//
// The stubs are compiled into this program; the host modules are stand-ins
// (tests/binding_host.cpp) that note each call.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "host/win_binding.h"
#include "tests/binding_host.h"

namespace {

struct Host {
  HMODULE module = nullptr;
  BindingHostRecord* record = nullptr;
};

Host load_host(const char* path) {
  Host host;
  host.module = LoadLibraryA(path);
  if (host.module == nullptr) return host;
  auto record_fn = reinterpret_cast<BindingHostRecordFn>(
      reinterpret_cast<void*>(GetProcAddress(host.module, kBindingHostRecordName)));
  if (record_fn != nullptr) host.record = record_fn();
  return host;
}

const Host& host(int which) {
  static const Host hosts[] = {load_host(ZEL_BINDING_HOST_1), load_host(ZEL_BINDING_HOST_2),
                               load_host(ZEL_BINDING_HOST_PARTIAL)};
  return hosts[which - 1];
}
const Host& partial_host() { return host(3); }

// Collects what is written to the standard error stream while it lives.
class StderrCapture {
 public:
  StderrCapture() {
    char dir[MAX_PATH];
    char file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "zel", 0, file);
    path_ = file;
    std::fflush(stderr);
    fd_ = _open(path_.c_str(), _O_CREAT | _O_TRUNC | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
    saved_ = _dup(2);
    _dup2(fd_, 2);
  }
  ~StderrCapture() {
    restore();
    std::remove(path_.c_str());
  }

  std::string text() {
    restore();
    std::string out;
    if (FILE* f = std::fopen(path_.c_str(), "rb")) {
      char buffer[4096];
      size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
      std::fclose(f);
    }
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    _dup2(saved_, 2);
    _close(saved_);
    _close(fd_);
    saved_ = -1;
  }
  std::string path_;
  int fd_ = -1;
  int saved_ = -1;
};

// The one line a stub writes when its function is missing from `module`.
std::string lookup_failure(const char* name, HMODULE module, DWORD error) {
  char line[256];
  std::snprintf(line, sizeof line, "dlsym failed on \"%s\" (handle: %08x error: %d)\n", name,
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(module)),
                static_cast<int>(error));
  return line;
}

// What a stand-in host answers: its number, or its record's address.
template <typename R>
R answer_of(const Host& h) {
  if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<R>(h.record);
  } else {
    return static_cast<R>(h.record->host_id);
  }
}

// Calls a stub with zero arguments of its own types and checks that the call
// reached `h` under the stub's name and brought its answer back.
template <typename R, typename... A>
void expect_reaches(const Host& h, const char* name, R (*stub)(A...)) {
  const int calls = h.record->calls.load();
  if constexpr (std::is_void_v<R>) {
    stub(A{}...);
  } else {
    EXPECT_EQ(stub(A{}...), answer_of<R>(h)) << name;
  }
  EXPECT_EQ(h.record->calls.load(), calls + 1) << name;
  EXPECT_STREQ(h.record->last_call.load(), name);
}

template <typename... A>
void expect_reaches(const Host& h, const char* name, void (*stub)(A..., ...)) {
  const int calls = h.record->calls.load();
  if constexpr (sizeof...(A) == 1) {
    stub("%s", "text");
  } else {
    stub(7, "%s", "text");
  }
  EXPECT_EQ(h.record->calls.load(), calls + 1) << name;
  EXPECT_STREQ(h.record->last_call.load(), name);
  EXPECT_STREQ(h.record->text, "text") << name;
}

// Every listed host function, called once; each call must land in `h`.
void expect_every_function_reaches(const Host& h) {
#define ZEL_HOST_CALL(result, name, params, args) expect_reaches(h, #name, &name);
#define ZEL_HOST_QUERY(name)                                                \
  {                                                                         \
    void* out = nullptr;                                                    \
    EXPECT_EQ(name(miQ_FUNC_USERPTR, nullptr, 0, &out), h.record->host_id); \
    EXPECT_STREQ(h.record->last_call.load(), #name);                        \
  }
#define ZEL_HOST_MESSAGE(name) expect_reaches(h, #name, &name);
#define ZEL_HOST_NUMBERED_MESSAGE(name) expect_reaches(h, #name, &name);
#include "host/host_calls.inc"
}

class Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 1; i <= 3; ++i) {
      ASSERT_NE(host(i).module, nullptr) << "stand-in host " << i << " not loaded";
      ASSERT_NE(host(i).record, nullptr) << "stand-in host " << i << " has no record";
    }
  }
  void TearDown() override { miSetModuleHandle(nullptr); }
};

TEST_F(Binding, CallWithoutModuleHandleReportsAndStillLooksTheNameUp) {
  miSetModuleHandle(nullptr);
  StderrCapture capture;
  const int first = mi_db_type(5);
  const int second = mi_db_type(5);
  const std::string text = capture.text();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  // Each call writes the missing-handle line, then looks the name up (this
  // program exports no host calls, so the lookup fails and says so).
  const std::string head =
      "DYNLOAD: dl_handle null\ndlsym failed on \"mi_db_type\" (handle: 00000000 error: ";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  const size_t again = text.find(head, head.size());
  EXPECT_NE(again, std::string::npos) << "the second call must look again:\n" << text;
  EXPECT_EQ(text.find(head, again + 1), std::string::npos) << text;
}

TEST_F(Binding, NewModuleHandleRebindsEveryFunction) {
  EXPECT_GE(zel::binding::listed_host_calls(), 40u);
  EXPECT_LE(zel::binding::listed_host_calls(), zel::binding::kHostSlots);
  StderrCapture capture;
  for (const int which : {1, 2, 1}) {
    SCOPED_TRACE("host " + std::to_string(which));
    miSetModuleHandle(host(which).module);
    expect_every_function_reaches(host(which));
    // Resolved once, the entry point serves every later call.
    expect_every_function_reaches(host(which));
  }
  EXPECT_EQ(capture.text(), "") << "every function was found";
}

TEST_F(Binding, MissingFunctionReportsOnEveryCallAndCallsNothing) {
  const Host& h = partial_host();
  miSetModuleHandle(h.module);
  const int calls_before = h.record->calls.load();

  struct Case {
    const char* name;
    bool (*call)();  // true when the stub gave back the zero of its type
  };
  const Case cases[] = {
      {"mi_db_type", [] { return mi_db_type(1) == 0; }},
      {"mi_api_tag_lookup", [] { return mi_api_tag_lookup(1) == nullptr; }},
      {"mi_db_access", [] { return mi_db_access(1) == nullptr; }},
      {"mi_lightprofile_sample", [] { return mi_lightprofile_sample(nullptr, 1, 1) == 0.0f; }},
      {"mi_matrix_invert",
       [] {
         float m[16] = {};
         return mi_matrix_invert(m, m) == 0;
       }},
      {"mi_db_unpin",
       [] {
         mi_db_unpin(1);
         return true;
       }},
      {"mi_warning",
       [] {
         mi_warning("%s", "lost");
         return true;
       }},
      {"mi_nwarning",
       [] {
         mi_nwarning(3, "%s", "lost");
         return true;
       }},
  };
  for (const Case& c : cases) {
    StderrCapture capture;
    EXPECT_TRUE(c.call()) << c.name;
    EXPECT_TRUE(c.call()) << c.name;
    const std::string line = lookup_failure(c.name, h.module, ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(capture.text(), line + line) << c.name;
  }
  EXPECT_EQ(h.record->calls.load(), calls_before) << "nothing may reach the host";

  // What the module has is found and called as usual, without a word.
  StderrCapture capture;
  void* out = nullptr;
  EXPECT_EQ(mi_query(miQ_FUNC_USERPTR, nullptr, 0, &out), h.record->host_id);
  mi_error("%s", "found");
  EXPECT_EQ(capture.text(), "");
  EXPECT_STREQ(h.record->text, "found");
  EXPECT_EQ(h.record->calls.load(), calls_before + 2);
}

TEST_F(Binding, QueryPassesExactlyTheArgumentsItsCodeCarries) {
  const Host& h = host(1);
  miSetModuleHandle(h.module);
  miState state{};
  char result[16];
  void* const wide = reinterpret_cast<void*>(std::uintptr_t{0x0000123456789ABCull});

  // Four fixed arguments arrive for every code.
  for (const miQueryCode code :
       {miQ_FUNC_USERPTR, miQ_INST_ITEM, miQ_GROUP_NKIDS, miQ_LIGHT_ENERGY}) {
    EXPECT_EQ(mi_query(code, &state, 77, result), h.record->host_id);
    EXPECT_EQ(h.record->code, code);
    EXPECT_EQ(h.record->state, &state);
    EXPECT_EQ(h.record->tag, 77u);
    EXPECT_EQ(h.record->result, result);
  }

  // Codes that carry one 32-bit integer: the member index of a group and two
  // others.
  for (const int code : {int{miQ_GROUP_KID}, 152, 163}) {
    for (const int value : {0, 5, -1, 0x7FFFFFFF}) {
      mi_query(code, &state, 9, result, value);
      EXPECT_EQ(h.record->code, code);
      EXPECT_EQ(h.record->tag, 9u);
      EXPECT_EQ(h.record->result, result);
      EXPECT_EQ(h.record->extra_int, value) << "code " << code;
    }
  }

  // A pointer-sized value, all 64 bits of it.
  mi_query(127, &state, 9, result, wide);
  EXPECT_EQ(h.record->extra_pointer, wide);

  // A pointer-sized value, then a 32-bit integer.
  mi_query(165, &state, 9, result, wide, 42);
  EXPECT_EQ(h.record->extra_pointer, wide);
  EXPECT_EQ(h.record->extra_int, 42);
}

TEST_F(Binding, MessagesArriveFormattedAsOneText) {
  const Host& h = host(2);
  miSetModuleHandle(h.module);
  struct Case {
    void (*send)();
    const char* name;
    int number;
    const char* text;
  };
  const Case cases[] = {
      {[] { mi_warning("light %d of %s", 3, "panel"); }, "mi_warning", 0, "light 3 of panel"},
      {[] { mi_error("%.2f%% of %u", 12.5, 8u); }, "mi_error", 0, "12.50% of 8"},
      {[] { mi_info("plain"); }, "mi_info", 0, "plain"},
      {[] { mi_nwarning(42, "x=%g", 1.5); }, "mi_nwarning", 42, "x=1.5"},
      {[] { mi_nerror(-7, "%s%s", "a", "b"); }, "mi_nerror", -7, "ab"},
      {[] { mi_nfatal(9, "%c", 'z'); }, "mi_nfatal", 9, "z"},
      {[] { mi_debug("%5d|", 12); }, "mi_debug", 0, "   12|"},
      {[] { mi_warning(nullptr); }, "mi_warning", 0, ""},
  };
  for (const Case& c : cases) {
    h.record->number = 0;
    c.send();
    EXPECT_STREQ(h.record->last_call.load(), c.name);
    // The host gets the finished text, never the caller's format: a '%' in
    // the text must reach it unchanged.
    EXPECT_STREQ(h.record->format, "%s") << c.name;
    EXPECT_STREQ(h.record->text, c.text) << c.name;
    EXPECT_EQ(h.record->number, c.number) << c.name;
  }
}

TEST_F(Binding, MessageLongerThanTheBufferIsCut) {
  const Host& h = host(1);
  miSetModuleHandle(h.module);
  const size_t limit = zel::binding::kMessageBufferSize - 1;
  std::string long_text;
  for (size_t i = 0; long_text.size() < 3000; ++i) long_text += char('a' + i % 26);

  // Long through an argument, and long as the format itself.
  mi_warning("%s", long_text.c_str());
  EXPECT_EQ(std::string(h.record->text), long_text.substr(0, limit));
  mi_nerror(5, long_text.c_str());
  EXPECT_EQ(std::string(h.record->text), long_text.substr(0, limit));
  EXPECT_EQ(h.record->number, 5);
  // Exactly at the limit nothing is lost.
  mi_warning("%s", long_text.substr(0, limit).c_str());
  EXPECT_EQ(std::string(h.record->text), long_text.substr(0, limit));
}

TEST_F(Binding, ThreadsResolvingTogetherAllReachTheHost) {
  const Host& h = host(2);
  StderrCapture capture;
  for (int round = 0; round < 5; ++round) {
    miSetModuleHandle(h.module);  // every slot empty again
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < wrong.size(); ++t) {
      threads.emplace_back([&wrong, t, id = h.record->host_id] {
        for (int i = 0; i < 200; ++i) {
          if (mi_db_type(1) != id) ++wrong[t];
          if (mi_api_tag_lookup(1) == nullptr) ++wrong[t];
        }
      });
    }
    for (auto& t : threads) t.join();
    for (size_t t = 0; t < wrong.size(); ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  }
  EXPECT_EQ(capture.text(), "");
}

}  // namespace
