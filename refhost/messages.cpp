// Host messages: recorded in order for tests and echoed to standard error.
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "refhost/refhost.h"

namespace {

struct Log {
  std::mutex mutex;
  std::vector<refhost::Message> messages;
  bool echo = true;
};

Log& log() {
  static Log* l = new Log;
  return *l;
}

void record(refhost::MessageKind kind, const char* format, va_list args) {
  char text[4096];
  std::vsnprintf(text, sizeof text, format != nullptr ? format : "", args);
  Log& l = log();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.messages.push_back({kind, text});
  if (l.echo)
    std::fprintf(stderr, "%s: %s\n", kind == refhost::MessageKind::Error ? "error" : "warning",
                 text);
}

std::vector<std::string> texts(refhost::MessageKind kind) {
  std::vector<std::string> out;
  for (const auto& m : refhost::messages())
    if (m.kind == kind) out.push_back(m.text);
  return out;
}

}  // namespace

namespace refhost {

std::vector<Message> messages() {
  std::lock_guard<std::mutex> lock(log().mutex);
  return log().messages;
}
std::vector<std::string> warnings() { return texts(MessageKind::Warning); }
std::vector<std::string> errors() { return texts(MessageKind::Error); }
void clear_messages() {
  std::lock_guard<std::mutex> lock(log().mutex);
  log().messages.clear();
}
void set_echo(bool on) {
  std::lock_guard<std::mutex> lock(log().mutex);
  log().echo = on;
}

}  // namespace refhost

extern "C" {

void mi_warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  record(refhost::MessageKind::Warning, format, args);
  va_end(args);
}

void mi_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  record(refhost::MessageKind::Error, format, args);
  va_end(args);
}

}  // extern "C"
