#pragma once
// The crash-time report writer. Everything that needs allocation or system
// queries is gathered into a drcrash_log_writer record when the reporter is
// enabled; at crash time the writer only reads that record, walks the given
// threads with the frame walker into scratch space made at init, lists the
// images of the snapshot and writes through the buffered file output, with
// every nested message measured first. Nothing is allocated at crash time.
//
// The report is budgeted before it is written: when it would pass the file's
// limit, frames of threads that did not crash are dropped first, then frames
// of the crashed thread, so what is written always decodes. A write the file
// still refuses gives a non-zero status.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "crashreporter/Source/AsyncFileOutput.h"
#include "crashreporter/Source/AsyncImageList.h"
#include "crashreporter/Source/ThreadState.h"

namespace crashreporter {

inline constexpr std::uint32_t kDrcrashMaxFramesPerThread = 512;
inline constexpr std::uint32_t kDrcrashMaxThreads = 256;
inline constexpr std::uint64_t kDrcrashReportSizeLimit = 262144;

// One written frame: its pc and, when symbols are asked for and found, where
// the symbol starts and where its name lies in the image (copied at write).
struct drcrash_log_frame {
  std::uint64_t pc = 0;
  std::uint64_t symbol_address = 0;
  std::uint64_t symbol_name_address = 0;  // 0: no symbol
  std::uint32_t symbol_name_length = 0;
};

// Scratch space for one write, made at init: the frames of every thread and
// of the exception, and a cache of symbol lookups by pc (deep recursions and
// parked thread pools repeat the same pcs).
inline constexpr std::size_t kDrcrashSymbolCacheSlots = 1024;
struct drcrash_log_scratch {
  drcrash_log_frame frames[(kDrcrashMaxThreads + 1) * kDrcrashMaxFramesPerThread];
  drcrash_log_frame symbol_cache[kDrcrashSymbolCacheSlots];
};

struct drcrash_log_writer {
  std::uint32_t symbolication_strategy = 0;
  bool user_requested = false;
  std::uint8_t uuid[16] = {};
  char* os_version = nullptr;
  char* os_build = nullptr;
  char* model = nullptr;  // nullptr: unknown, the field is left out
  std::uint64_t cpu_type = 0, cpu_subtype = 0;
  std::uint32_t cpu_count = 0, logical_cpu_count = 0;
  char* application_identifier = nullptr;
  char* application_version = nullptr;
  char* application_marketing_version = nullptr;  // optional
  char* process_name = nullptr;
  std::uint32_t process_id = 0;
  char* process_path = nullptr;
  std::uint64_t process_start_time = 0;
  char* parent_process_name = nullptr;
  std::uint32_t parent_process_id = 0;
  bool native = true;
  bool has_exception = false;
  char* exception_name = nullptr;
  char* exception_reason = nullptr;
  std::uint64_t* exception_frames = nullptr;
  std::size_t exception_frame_count = 0;
  std::uint8_t* custom_data = nullptr;
  std::size_t custom_data_length = 0;
  drcrash_log_scratch* scratch = nullptr;  // mapped at init
};

struct drcrash_log_signal_info {
  int signo = 0;
  int code = 0;
  std::uint64_t address = 0;
};

// One thread to write. Without a state the thread is written without frames
// (one that did not answer the capture signal in time).
struct drcrash_log_thread {
  pid_t tid = 0;
  bool crashed = false;
  bool has_state = false;
  drcrash_async_thread_state state;
};

// Fills the record from the running process (not async-safe). 5 when the
// process's own facts cannot be read; the fields stay empty then.
drcrash_error_t drcrash_log_writer_init(drcrash_log_writer* writer, const char* application_identifier,
                                        const char* application_version, const char* application_marketing_version,
                                        std::uint32_t symbolication_strategy, bool user_requested);
void drcrash_log_writer_set_custom_data(drcrash_log_writer* writer, const void* data, std::size_t length);
// Once per record; a second call aborts.
void drcrash_log_writer_set_exception(drcrash_log_writer* writer, const char* name, const char* reason,
                                      const std::uint64_t* frames, std::size_t count);
void drcrash_log_writer_free(drcrash_log_writer* writer);

// Writes one report (header included). Async-signal-safe. 0, or 2 when the
// file refused a write.
drcrash_error_t drcrash_log_writer_write(drcrash_log_writer* writer, drcrash_async_loaded_images* images,
                                         drcrash_async_file* file, const drcrash_log_signal_info* signal,
                                         const drcrash_log_thread* threads, std::size_t thread_count);

// "SIGSEGV", or "#11" for a number the table lacks; codes likewise ("SEGV_MAPERR", "#0").
void drcrash_log_signal_name(int signo, char* out, std::size_t size);
void drcrash_log_signal_code_name(int signo, int code, char* out, std::size_t size);

}  // namespace crashreporter
