#include "crashreporter/Source/DCRCrashReportWriter.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/DCRCrashProcessInfo.h"
#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "crashreporter/Source/FrameWalker.h"
#include "crashreporter/Source/ProtobufFieldEncoder.h"

namespace crashreporter {
namespace {

constexpr std::uint32_t kOperatingSystemUnknown = 3;
constexpr std::uint32_t kTypeEncodingMach = 1;

char* copy(const std::string& text) { return strdup(text.c_str()); }

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// "0-7,9" -> 9
std::uint32_t countCpuList(const std::string& list) {
  std::uint32_t count = 0;
  std::istringstream parts(list);
  for (std::string part; std::getline(parts, part, ',');) {
    const auto dash = part.find('-');
    if (part.empty()) continue;
    count += dash == std::string::npos ? 1 : static_cast<std::uint32_t>(std::stoul(part.substr(dash + 1)) - std::stoul(part.substr(0, dash)) + 1);
  }
  return count;
}

// "%ld.%ld", then ".%ld" when the third number is above 0.
std::string osVersion(const char* release) {
  long major = 0, minor = 0, patch = 0;
  std::sscanf(release, "%ld.%ld.%ld", &major, &minor, &patch);
  char text[64];
  if (patch > 0) std::snprintf(text, sizeof text, "%ld.%ld.%ld", major, minor, patch);
  else std::snprintf(text, sizeof text, "%ld.%ld", major, minor);
  return text;
}

// ---- crash time ----

using File = drcrash_async_file;

struct Emitter {
  File* file;  // nullptr: measure only
  bool failed = false;
};

template <typename Body>
std::size_t message(File* file, std::uint32_t field, Body body) {
  const auto length = static_cast<std::uint32_t>(body(nullptr));
  const std::size_t head = drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_MESSAGE, &length);
  if (file != nullptr) body(file);
  return head + length;
}
std::size_t u64(File* f, std::uint32_t field, std::uint64_t v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_UINT64, &v); }
std::size_t u32(File* f, std::uint32_t field, std::uint32_t v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_UINT32, &v); }
std::size_t i64(File* f, std::uint32_t field, std::int64_t v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_INT64, &v); }
std::size_t enumeration(File* f, std::uint32_t field, std::uint32_t v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_ENUM, &v); }
std::size_t boolean(File* f, std::uint32_t field, bool v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_BOOL, &v); }
std::size_t text(File* f, std::uint32_t field, const char* v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_STRING, v != nullptr ? v : ""); }
std::size_t bytes(File* f, std::uint32_t field, const void* data, std::size_t length) {
  const drcrash_protobuf_bytes value{length, data};
  return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_BYTES, &value);
}

std::size_t processor(File* f, std::uint32_t field, std::uint64_t type, std::uint64_t subtype) {
  return message(f, field, [&](File* g) { return enumeration(g, 1, kTypeEncodingMach) + u64(g, 2, type) + u64(g, 3, subtype); });
}

// A frame: the pc, then the symbol when one was found. The name is copied out
// of the image only when written; measuring needs its length alone.
std::size_t stackFrame(File* f, std::uint32_t field, const drcrash_log_frame& frame) {
  return message(f, field, [&](File* g) {
    std::size_t n = u64(g, 3, frame.pc);
    if (frame.symbol_name_address == 0) return n;
    return n + message(g, 6, [&](File* h) {
      char name[256];
      drcrash_protobuf_bytes value{frame.symbol_name_length, nullptr};
      if (h != nullptr) {
        if (drcrash_async_task_memcpy(frame.symbol_name_address, 0, name, frame.symbol_name_length) != DRCRASH_ESUCCESS) {
          drcrash_async_memset(name, '?', frame.symbol_name_length);
        }
        value.data = name;
      }
      return drcrash_writer_pack(h, 1, DRCRASH_PROTOBUF_TYPE_BYTES, &value) + u64(h, 2, frame.symbol_address);
    });
  });
}

// Fills in the symbol of each frame, through the scratch's cache.
void symbolicate(drcrash_log_writer* w, drcrash_async_loaded_images* images, drcrash_log_frame* frames, std::uint32_t count) {
  if ((w->symbolication_strategy & 1) == 0) return;  // bit 1 (class metadata) has nothing to read in ELF images
  drcrash_async_loaded_images_set_reading(images, true);
  for (std::uint32_t i = 0; i < count; ++i) {
    drcrash_log_frame& frame = frames[i];
    drcrash_log_frame& cached = w->scratch->symbol_cache[(frame.pc >> 2) % kDrcrashSymbolCacheSlots];
    if (cached.pc == frame.pc && frame.pc != 0) {
      frame = cached;
      continue;
    }
    const drcrash_async_image* image = drcrash_async_loaded_images_find_image_for_address(images, frame.pc);
    drcrash_async_symbol_entry symbol;
    if (image != nullptr && drcrash_async_image_find_symbol_entry(image, frame.pc, &symbol) == DRCRASH_ESUCCESS) {
      frame.symbol_address = symbol.address;
      frame.symbol_name_address = symbol.name_address;
      frame.symbol_name_length = symbol.name_length;
    }
    cached = frame;
  }
  drcrash_async_loaded_images_set_reading(images, false);
}

// A walked thread: its frames in scratch, and the first frame's registers.
struct WalkedThread {
  const drcrash_log_thread* thread;
  drcrash_log_frame* frames;
  std::uint32_t count;
};

std::uint32_t walk(drcrash_async_loaded_images* images, const drcrash_log_thread& thread, drcrash_log_frame* frames) {
  if (!thread.has_state) return 0;
  drcrash_async_frame_walker walker;
  drcrash_async_frame_walker_init(&walker, &thread.state, images);
  std::uint32_t count = 0;
  while (count < kDrcrashMaxFramesPerThread && drcrash_async_frame_walker_next(&walker) == DRCRASH_FRAME_ESUCCESS) {
    std::uint64_t pc;
    if (drcrash_async_frame_walker_get_reg(&walker, DRCRASH_REG_IP, &pc) != DRCRASH_FRAME_ESUCCESS) break;
    frames[count++] = drcrash_log_frame{pc, 0, 0, 0};
  }
  return count;
}

std::size_t threadMessage(File* f, const WalkedThread& walked, std::uint32_t number, std::uint32_t frameCap) {
  return message(f, 3, [&](File* g) {
    std::size_t n = u32(g, 1, number) + boolean(g, 3, walked.thread->crashed);
    const std::uint32_t frames = walked.count < frameCap ? walked.count : frameCap;
    if (walked.thread->crashed && frames > 0) {
      const drcrash_async_thread_state& state = walked.thread->state;
      for (std::uint32_t reg = 0; reg < drcrash_async_thread_state_get_reg_count(&state); ++reg) {
        const std::uint64_t value = drcrash_async_thread_state_has_reg(&state, reg) ? drcrash_async_thread_state_get_reg(&state, reg) : 0;
        n += message(g, 4, [&](File* h) { return text(h, 1, drcrash_async_thread_state_get_reg_name(&state, reg)) + u64(h, 2, value); });
      }
    }
    for (std::uint32_t i = 0; i < frames; ++i) n += stackFrame(g, 2, walked.frames[i]);
    return n;
  });
}

std::size_t reportBody(File* f, drcrash_log_writer* w, drcrash_async_loaded_images* images, const drcrash_log_signal_info* signal,
                       const WalkedThread* walked, std::size_t threadCount, const WalkedThread& exception,
                       std::uint32_t otherCap, std::uint32_t crashedCap, std::int64_t timestamp) {
  std::size_t n = message(f, 9, [&](File* g) { return boolean(g, 1, w->user_requested) + bytes(g, 2, w->uuid, 16); });
  n += message(f, 1, [&](File* g) {
    return enumeration(g, 1, kOperatingSystemUnknown) + text(g, 2, w->os_version) + text(g, 5, w->os_build) +
           enumeration(g, 3, drcrash_async_host_processor().report_architecture) + i64(g, 4, timestamp);
  });
  n += message(f, 8, [&](File* g) {
    std::size_t m = w->model != nullptr ? text(g, 1, w->model) : 0;
    return m + processor(g, 2, w->cpu_type, w->cpu_subtype) + u32(g, 3, w->cpu_count) + u32(g, 4, w->logical_cpu_count);
  });
  n += message(f, 2, [&](File* g) {
    std::size_t m = text(g, 1, w->application_identifier) + text(g, 2, w->application_version);
    if (w->application_marketing_version != nullptr) m += text(g, 3, w->application_marketing_version);
    return m;
  });
  n += message(f, 7, [&](File* g) {
    return text(g, 1, w->process_name) + u32(g, 2, w->process_id) + text(g, 3, w->process_path) +
           text(g, 4, w->parent_process_name) + u32(g, 5, w->parent_process_id) + boolean(g, 6, w->native) +
           u64(g, 7, w->process_start_time);
  });
  for (std::size_t i = 0; i < threadCount; ++i) {
    n += threadMessage(f, walked[i], static_cast<std::uint32_t>(i), walked[i].thread->crashed ? crashedCap : otherCap);
  }
  drcrash_async_loaded_images_set_reading(images, true);
  for (auto* image = drcrash_async_loaded_images_next(images, nullptr); image != nullptr;
       image = drcrash_async_loaded_images_next(images, image)) {
    n += message(f, 4, [&](File* g) {
      std::size_t m = u64(g, 2, image->size) + u64(g, 1, image->header_address) + text(g, 3, image->name);
      if (image->has_uuid) m += bytes(g, 4, image->uuid, 16);
      return m + processor(g, 5, image->cpu_type, image->cpu_subtype);
    });
  }
  drcrash_async_loaded_images_set_reading(images, false);
  if (w->has_exception) {
    n += message(f, 5, [&](File* g) {
      std::size_t m = text(g, 1, w->exception_name) + text(g, 2, w->exception_reason);
      for (std::uint32_t i = 0; i < exception.count; ++i) m += stackFrame(g, 3, exception.frames[i]);
      return m;
    });
  }
  n += message(f, 6, [&](File* g) {
    char name[16], code[16];
    drcrash_log_signal_name(signal->signo, name, sizeof name);
    drcrash_log_signal_code_name(signal->signo, signal->code, code, sizeof code);
    return text(g, 1, name) + text(g, 2, code) + u64(g, 3, signal->address);
  });
  if (w->custom_data != nullptr) n += bytes(f, 10, w->custom_data, w->custom_data_length);
  return n;
}

struct NamedNumber {
  int number;
  const char* name;
};

void formatNumber(int number, char* out, std::size_t size) {
  // "#%d" without snprintf, which is not async-signal-safe.
  char digits[16];
  std::size_t n = 0;
  unsigned magnitude = number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0 && n < sizeof digits);
  std::size_t at = 0;
  if (at + 1 < size) out[at++] = '#';
  if (number < 0 && at + 1 < size) out[at++] = '-';
  while (n > 0 && at + 1 < size) out[at++] = digits[--n];
  out[at] = '\0';
}

void copyName(const char* name, char* out, std::size_t size) {
  std::size_t i = 0;
  for (; name[i] != '\0' && i + 1 < size; ++i) out[i] = name[i];
  out[i] = '\0';
}

}  // namespace

void drcrash_log_signal_name(int signo, char* out, std::size_t size) {
  static constexpr NamedNumber kNames[] = {
      {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},       {SIGQUIT, "SIGQUIT"}, {SIGILL, "SIGILL"},     {SIGTRAP, "SIGTRAP"},
      {SIGABRT, "SIGABRT"}, {SIGFPE, "SIGFPE"},       {SIGKILL, "SIGKILL"}, {SIGBUS, "SIGBUS"},     {SIGSEGV, "SIGSEGV"},
      {SIGSYS, "SIGSYS"},   {SIGPIPE, "SIGPIPE"},     {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"},   {SIGURG, "SIGURG"},
      {SIGSTOP, "SIGSTOP"}, {SIGTSTP, "SIGTSTP"},     {SIGCONT, "SIGCONT"}, {SIGCHLD, "SIGCHLD"},   {SIGTTIN, "SIGTTIN"},
      {SIGTTOU, "SIGTTOU"}, {SIGIO, "SIGIO"},         {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"},   {SIGVTALRM, "SIGVTALRM"},
      {SIGPROF, "SIGPROF"}, {SIGWINCH, "SIGWINCH"},   {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"},
  };
  for (const NamedNumber& entry : kNames) {
    if (entry.number == signo) return copyName(entry.name, out, size);
  }
  formatNumber(signo, out, size);
}

void drcrash_log_signal_code_name(int signo, int code, char* out, std::size_t size) {
  struct Code {
    int signo, code;
    const char* name;
  };
  static constexpr Code kCodes[] = {
      {SIGILL, ILL_ILLOPC, "ILL_ILLOPC"}, {SIGILL, ILL_ILLTRP, "ILL_ILLTRP"}, {SIGILL, ILL_PRVOPC, "ILL_PRVOPC"},
      {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"}, {SIGILL, ILL_ILLADR, "ILL_ILLADR"}, {SIGILL, ILL_PRVREG, "ILL_PRVREG"},
      {SIGILL, ILL_COPROC, "ILL_COPROC"}, {SIGILL, ILL_BADSTK, "ILL_BADSTK"},
      {SIGFPE, FPE_FLTDIV, "FPE_FLTDIV"}, {SIGFPE, FPE_FLTOVF, "FPE_FLTOVF"}, {SIGFPE, FPE_FLTUND, "FPE_FLTUND"},
      {SIGFPE, FPE_FLTRES, "FPE_FLTRES"}, {SIGFPE, FPE_FLTINV, "FPE_FLTINV"}, {SIGFPE, FPE_FLTSUB, "FPE_FLTSUB"},
      {SIGFPE, FPE_INTDIV, "FPE_INTDIV"}, {SIGFPE, FPE_INTOVF, "FPE_INTOVF"},
      {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"}, {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
      {SIGBUS, BUS_ADRALN, "BUS_ADRALN"}, {SIGBUS, BUS_ADRERR, "BUS_ADRERR"}, {SIGBUS, BUS_OBJERR, "BUS_OBJERR"},
      {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"}, {SIGTRAP, TRAP_TRACE, "TRAP_TRACE"},
  };
  for (const Code& entry : kCodes) {
    if (entry.signo == signo && entry.code == code) return copyName(entry.name, out, size);
  }
  formatNumber(code, out, size);
}

drcrash_error_t drcrash_log_writer_init(drcrash_log_writer* w, const char* application_identifier,
                                        const char* application_version, const char* application_marketing_version,
                                        std::uint32_t symbolication_strategy, bool user_requested) {
  *w = drcrash_log_writer{};
  w->symbolication_strategy = symbolication_strategy & 3;
  w->user_requested = user_requested;
  if (getrandom(w->uuid, sizeof w->uuid, 0) != static_cast<ssize_t>(sizeof w->uuid)) {
    for (std::size_t i = 0; i < sizeof w->uuid; ++i) w->uuid[i] = static_cast<std::uint8_t>(std::rand());
  }
  w->uuid[6] = static_cast<std::uint8_t>((w->uuid[6] & 0x0f) | 0x40);  // a version 4 identifier
  w->uuid[8] = static_cast<std::uint8_t>((w->uuid[8] & 0x3f) | 0x80);
  w->application_identifier = copy(application_identifier);
  w->application_version = copy(application_version);
  if (application_marketing_version != nullptr) w->application_marketing_version = copy(application_marketing_version);
  // Pages are touched only by the frames a write needs.
  void* scratch = mmap(nullptr, sizeof(drcrash_log_scratch), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  w->scratch = scratch == MAP_FAILED ? nullptr : static_cast<drcrash_log_scratch*>(scratch);

  utsname names{};
  if (uname(&names) == 0) {
    w->os_version = copy(osVersion(names.release));
    w->os_build = copy(names.release);
  } else {
    w->os_version = copy("");
    w->os_build = copy("");
  }
  const std::string model = firstLine("/sys/devices/virtual/dmi/id/product_name");
  if (!model.empty()) w->model = copy(model);
  w->cpu_type = drcrash_async_host_processor().mach_type;  // Mach-encoded, as the report's readers expect
  w->cpu_subtype = drcrash_async_host_processor().mach_subtype;
  w->logical_cpu_count = countCpuList(firstLine("/sys/devices/system/cpu/present"));
  std::set<std::string> cores;
  for (std::uint32_t cpu = 0; cpu < w->logical_cpu_count; ++cpu) {
    const std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
    cores.insert(firstLine(base + "physical_package_id") + ":" + firstLine(base + "core_id"));
  }
  w->cpu_count = static_cast<std::uint32_t>(cores.size());

  const auto self = DCRCrashProcessInfo::currentProcessInfo();
  if (!self) return DRCRASH_EINVAL;
  w->process_name = copy(self->processName().value_or(""));
  w->process_id = static_cast<std::uint32_t>(self->processID());
  w->process_start_time = static_cast<std::uint64_t>(self->startTimeSeconds());
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  w->process_path = copy(length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string());
  w->parent_process_id = static_cast<std::uint32_t>(self->parentProcessID());
  const auto parent = DCRCrashProcessInfo::initWithProcessID(self->parentProcessID());
  w->parent_process_name = copy(parent ? parent->processName().value_or("") : "");
  w->native = true;
  return DRCRASH_ESUCCESS;
}

void drcrash_log_writer_set_custom_data(drcrash_log_writer* w, const void* data, std::size_t length) {
  std::free(w->custom_data);
  w->custom_data = nullptr;
  w->custom_data_length = 0;
  if (data == nullptr) return;
  w->custom_data = static_cast<std::uint8_t*>(std::malloc(length > 0 ? length : 1));
  if (w->custom_data == nullptr) return;
  std::memcpy(w->custom_data, data, length);
  w->custom_data_length = length;
}

void drcrash_log_writer_set_exception(drcrash_log_writer* w, const char* name, const char* reason,
                                      const std::uint64_t* frames, std::size_t count) {
  if (w->has_exception) std::abort();  // once per record; a second call is a bug
  w->exception_name = copy(name != nullptr ? name : "");
  w->exception_reason = copy(reason != nullptr ? reason : "");
  w->exception_frames = static_cast<std::uint64_t*>(std::calloc(count > 0 ? count : 1, sizeof(std::uint64_t)));
  if (w->exception_frames != nullptr && count > 0) std::memcpy(w->exception_frames, frames, count * sizeof(std::uint64_t));
  w->exception_frame_count = w->exception_frames != nullptr ? count : 0;
  w->has_exception = true;
}

void drcrash_log_writer_free(drcrash_log_writer* w) {
  for (char* text : {w->os_version, w->os_build, w->model, w->application_identifier, w->application_version,
                     w->application_marketing_version, w->process_name, w->process_path, w->parent_process_name,
                     w->exception_name, w->exception_reason}) {
    std::free(text);
  }
  std::free(w->exception_frames);
  std::free(w->custom_data);
  if (w->scratch != nullptr) munmap(w->scratch, sizeof(drcrash_log_scratch));
  *w = drcrash_log_writer{};
}

drcrash_error_t drcrash_log_writer_write(drcrash_log_writer* w, drcrash_async_loaded_images* images, File* file,
                                         const drcrash_log_signal_info* signal, const drcrash_log_thread* threads,
                                         std::size_t thread_count) {
  if (thread_count > kDrcrashMaxThreads) thread_count = kDrcrashMaxThreads;
  // The threads stand still and the images stay mapped while the report is written.
  drcrash_async_read_cache_scope cache;
  WalkedThread walked[kDrcrashMaxThreads];
  WalkedThread exception{nullptr, nullptr, 0};
  if (w->scratch != nullptr) {
    for (drcrash_log_frame& cached : w->scratch->symbol_cache) cached = drcrash_log_frame{};
    exception.frames = w->scratch->frames + kDrcrashMaxThreads * kDrcrashMaxFramesPerThread;
    while (w->has_exception && exception.count < w->exception_frame_count && exception.count < kDrcrashMaxFramesPerThread) {
      exception.frames[exception.count] = drcrash_log_frame{w->exception_frames[exception.count], 0, 0, 0};
      ++exception.count;
    }
    symbolicate(w, images, exception.frames, exception.count);
  }
  for (std::size_t i = 0; i < thread_count; ++i) {
    walked[i].thread = &threads[i];
    walked[i].frames = w->scratch != nullptr ? w->scratch->frames + i * kDrcrashMaxFramesPerThread : nullptr;
    walked[i].count = walked[i].frames != nullptr ? walk(images, threads[i], walked[i].frames) : 0;
    if (walked[i].frames != nullptr) symbolicate(w, images, walked[i].frames, walked[i].count);
  }
  timespec now{};
  const std::int64_t timestamp = clock_gettime(CLOCK_REALTIME, &now) == 0 ? now.tv_sec : 0;

  // Budget: drop frames of the other threads first, then the crashed thread's.
  std::uint32_t otherCap = kDrcrashMaxFramesPerThread, crashedCap = kDrcrashMaxFramesPerThread;
  const std::uint64_t limit = file->limit_bytes != 0 ? file->limit_bytes - file->total_bytes : ~std::uint64_t{0};
  const std::uint64_t header = sizeof kDrcrashReportHeader;
  while (header + reportBody(nullptr, w, images, signal, walked, thread_count, exception, otherCap, crashedCap, timestamp) > limit) {
    if (otherCap > 0) otherCap /= 2;
    else if (crashedCap > 0) crashedCap /= 2;
    else break;
  }
  const std::uint64_t before = file->total_bytes;
  drcrash_async_file_write(file, kDrcrashReportHeader, sizeof kDrcrashReportHeader);
  const std::size_t body = reportBody(file, w, images, signal, walked, thread_count, exception, otherCap, crashedCap, timestamp);
  return file->total_bytes - before == header + body ? DRCRASH_ESUCCESS : DRCRASH_OUTPUT_ERR;
}

}  // namespace crashreporter
