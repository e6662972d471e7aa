#include "platform/network/URLSession.h"

#include <curl/curl.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/Thread.h"

namespace platform {
namespace {

// How often the transfer thread looks at the clock when nothing wakes it.
constexpr int kPollMilliseconds = 20;
// Large uploads go out in big writes rather than libcurl's default 64 KiB.
constexpr long kUploadBufferSize = 512L << 10;

Error sessionError(URLSessionErrorCode code, std::string description) {
  return Error(kURLSessionErrorDomain, static_cast<std::int64_t>(code), std::move(description));
}

}  // namespace

class URLSession::Engine {
 public:
  Engine(DispatchQueue& queue, std::size_t maximumReplySize)
      : queue_(queue), maximumReplySize_(maximumReplySize), multi_(curl_multi_init()) {
    thread_ = std::make_unique<Thread>("com.dirarovazovo.URLSession", [this](std::stop_token) { run(); });
  }

  ~Engine() {
    {
      std::lock_guard guard(mutex_);
      stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    thread_.reset();
    for (auto& [easy, task] : running_) {
      curl_multi_remove_handle(multi_, easy);
      finish(*task, sessionError(URLSessionErrorCode::Cancelled, "cancelled"));
    }
    running_.clear();
    for (auto& task : incoming_) finish(*task, sessionError(URLSessionErrorCode::Cancelled, "cancelled"));
    incoming_.clear();
    curl_multi_cleanup(multi_);
  }

  std::uint64_t add(URLRequest request, std::optional<URLCredential> credential, Completion completion,
                    Progress progress) {
    auto task = std::make_unique<Task>();
    task->engine = this;
    task->id = nextId_++;
    task->request = std::move(request);
    task->credential = std::move(credential);
    task->completion = std::move(completion);
    task->progress = std::move(progress);
    // The time-out counts from the call, not from when the transfer thread takes it up.
    task->deadline = Clock::current().now() + effectiveTimeout(task->request);
    const std::uint64_t id = task->id;
    {
      std::lock_guard guard(mutex_);
      incoming_.push_back(std::move(task));
    }
    curl_multi_wakeup(multi_);
    return id;
  }

  void cancel(std::uint64_t id) {
    {
      std::lock_guard guard(mutex_);
      cancelled_.push_back(id);
    }
    curl_multi_wakeup(multi_);
  }

 private:
  struct Task {
    Engine* engine = nullptr;
    std::uint64_t id = 0;
    URLRequest request;
    std::optional<URLCredential> credential;
    Completion completion;
    Progress progress;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::FILE* upload = nullptr;
    curl_off_t uploadStart = 0;  // where the body begins in the file
    curl_off_t uploadSize = 0;
    curl_off_t uploadLeft = 0;
    URLResponse response;
    bool tooLarge = false;
    std::array<curl_off_t, 4> lastProgress{};  // what the queue last heard
    Clock::TimePoint deadline;
    char errorText[CURL_ERROR_SIZE] = {};

    ~Task() {
      if (easy) curl_easy_cleanup(easy);
      if (headers) curl_slist_free_all(headers);
      if (upload) std::fclose(upload);
    }
  };

  static Clock::Duration effectiveTimeout(const URLRequest& request) {
    return request.timeout > Clock::Duration::zero() ? request.timeout : std::chrono::seconds(60);
  }

  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* task = static_cast<Task*>(context);
    const std::size_t length = size * count;
    if (task->response.body.size() + length > task->engine->maximumReplySize_) {
      task->tooLarge = true;
      return 0;  // ends the transfer with a write error
    }
    task->response.body.append(data, length);
    return length;
  }

  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto* task = static_cast<Task*>(context);
    const std::size_t length = size * count;
    std::string line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
      task->response.headers.clear();  // a new reply (after a challenge or an interim one)
    } else if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
      std::size_t value = colon + 1;
      while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) ++value;
      task->response.headers.emplace_back(line.substr(0, colon), line.substr(value));
    }
    return length;
  }

  static int onProgress(void* context, curl_off_t toReceive, curl_off_t received, curl_off_t toSend,
                        curl_off_t sent) {
    auto* task = static_cast<Task*>(context);
    // libcurl calls this on every turn of its loop; the queue hears of changes only.
    const std::array<curl_off_t, 4> now{sent, toSend, received, toReceive};
    if (task->progress && now != task->lastProgress) {
      task->lastProgress = now;
      task->engine->queue_.async([progress = task->progress, sent, toSend, received, toReceive] {
        progress(sent, toSend, received, toReceive);
      });
    }
    return 0;
  }

  // Reads no further than the body's end, so a range stops where it should.
  static std::size_t onRead(char* data, std::size_t size, std::size_t count, void* context) {
    auto* task = static_cast<Task*>(context);
    const auto wanted = static_cast<std::size_t>(std::min<curl_off_t>(task->uploadLeft, size * count));
    const std::size_t read = std::fread(data, 1, wanted, task->upload);
    if (read < wanted && std::ferror(task->upload)) return CURL_READFUNC_ABORT;
    task->uploadLeft -= static_cast<curl_off_t>(read);
    return read;  // short of the size given when the file shrank: libcurl fails the transfer
  }

  // libcurl rewinds (after a redirect or an authentication challenge) only
  // from the body's start, which SEEK_SET offsets count from.
  static int onSeek(void* context, curl_off_t offset, int origin) {
    auto* task = static_cast<Task*>(context);
    if (origin != SEEK_SET || offset > task->uploadSize) return CURL_SEEKFUNC_CANTSEEK;
    if (fseeko(task->upload, task->uploadStart + offset, SEEK_SET) != 0) return CURL_SEEKFUNC_FAIL;
    task->uploadLeft = task->uploadSize - offset;
    return CURL_SEEKFUNC_OK;
  }

  // Sets the transfer up; an error when it cannot start.
  std::optional<Error> prepare(Task& task) {
    const URLRequest& request = task.request;
    task.easy = curl_easy_init();
    if (!task.easy) return sessionError(URLSessionErrorCode::Unknown, "cannot make a transfer");
    CURL* easy = task.easy;
    const Clock::Duration timeout = effectiveTimeout(request);
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (request.certificateAuthorities) {
      curl_easy_setopt(easy, CURLOPT_CAINFO, request.certificateAuthorities->c_str());
      curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    // The transfer thread's check on the clock ends the request; libcurl's own
    // limit (twice as long, and never 0, which would mean none) is the
    // real-time backstop.
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count()) * 2 + 1);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, task.errorText);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &task);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &task);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &task);
    if (task.progress) {
      curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
      curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Engine::onProgress);
      curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &task);
    }
    for (const auto& [name, value] : request.headers) {
      // libcurl drops "Name:" but sends "Name;" as an empty header.
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      task.headers = curl_slist_append(task.headers, line.c_str());
    }
    if (task.headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, task.headers);
    if (task.credential) {
      curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
      curl_easy_setopt(easy, CURLOPT_USERNAME, task.credential->user.c_str());
      curl_easy_setopt(easy, CURLOPT_PASSWORD, task.credential->password.c_str());
    }
    if (request.uploadFile) {
      std::error_code error;
      const auto fileSize = static_cast<curl_off_t>(std::filesystem::file_size(*request.uploadFile, error));
      const URLRequest::FileRange range = request.uploadRange.value_or(URLRequest::FileRange{0, fileSize});
      const bool inside = !error && range.offset >= 0 && range.length >= 0 && range.offset + range.length <= fileSize;
      task.upload = inside ? std::fopen(request.uploadFile->c_str(), "rb") : nullptr;
      if (!task.upload || fseeko(task.upload, range.offset, SEEK_SET) != 0) {
        return sessionError(URLSessionErrorCode::CannotReadUploadFile,
                            "cannot read the upload file " + request.uploadFile->string());
      }
      task.uploadStart = range.offset;
      task.uploadSize = task.uploadLeft = range.length;
      curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Engine::onRead);
      curl_easy_setopt(easy, CURLOPT_READDATA, &task);
      curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Engine::onSeek);
      curl_easy_setopt(easy, CURLOPT_SEEKDATA, &task);
      curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, range.length);
      curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
      // The body is at hand: no "100-continue" round trip before each one.
      task.headers = curl_slist_append(task.headers, "Expect:");
      curl_easy_setopt(easy, CURLOPT_HTTPHEADER, task.headers);
      if (request.method != "PUT") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (request.method == "GET") {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
      curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    return std::nullopt;
  }

  void finish(Task& task, Result<URLResponse> result) {
    if (!task.completion) return;
    queue_.async([completion = std::move(task.completion), result = std::move(result)]() mutable {
      completion(std::move(result));
    });
  }

  Result<URLResponse> outcome(Task& task, CURLcode code) {
    switch (code) {
      case CURLE_OK:
        curl_easy_getinfo(task.easy, CURLINFO_RESPONSE_CODE, &task.response.statusCode);
        return std::move(task.response);
      case CURLE_WRITE_ERROR:
        if (task.tooLarge) return sessionError(URLSessionErrorCode::ReplyTooLarge, "the reply is too large");
        break;
      case CURLE_OPERATION_TIMEDOUT:
        return sessionError(URLSessionErrorCode::TimedOut, "the request timed out");
      case CURLE_COULDNT_CONNECT:
        return sessionError(URLSessionErrorCode::CannotConnect, "cannot connect to the server");
      case CURLE_URL_MALFORMAT:
      case CURLE_UNSUPPORTED_PROTOCOL:
        return sessionError(URLSessionErrorCode::BadURL, "bad URL " + task.request.url);
      default:
        break;
    }
    return sessionError(URLSessionErrorCode::Unknown, task.errorText[0] ? task.errorText : curl_easy_strerror(code));
  }

  void end(CURL* easy, Result<URLResponse> result) {
    auto found = running_.find(easy);
    if (found == running_.end()) return;
    std::unique_ptr<Task> task = std::move(found->second);
    running_.erase(found);
    curl_multi_remove_handle(multi_, easy);
    finish(*task, std::move(result));
  }

  void run() {
    for (;;) {
      std::vector<std::unique_ptr<Task>> incoming;
      std::vector<std::uint64_t> cancelled;
      {
        std::lock_guard guard(mutex_);
        if (stopping_) return;
        incoming.swap(incoming_);
        cancelled.swap(cancelled_);
      }
      for (auto& task : incoming) {
        if (std::optional<Error> error = prepare(*task)) {
          finish(*task, std::move(*error));
          continue;
        }
        curl_multi_add_handle(multi_, task->easy);
        CURL* easy = task->easy;
        running_.emplace(easy, std::move(task));
      }
      for (std::uint64_t id : cancelled) {
        for (auto& [easy, task] : running_) {
          if (task->id != id) continue;
          end(easy, sessionError(URLSessionErrorCode::Cancelled, "cancelled"));
          break;
        }
      }
      int active = 0;
      curl_multi_perform(multi_, &active);
      while (CURLMsg* message = curl_multi_info_read(multi_, &active)) {
        if (message->msg != CURLMSG_DONE) continue;
        auto found = running_.find(message->easy_handle);
        if (found == running_.end()) continue;
        CURL* easy = message->easy_handle;
        end(easy, outcome(*found->second, message->data.result));
      }
      const Clock::TimePoint now = Clock::current().now();
      std::vector<CURL*> expired;
      for (const auto& [easy, task] : running_) {
        if (now >= task->deadline) expired.push_back(easy);
      }
      for (CURL* easy : expired) end(easy, sessionError(URLSessionErrorCode::TimedOut, "the request timed out"));
      curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
    }
  }

  DispatchQueue& queue_;
  const std::size_t maximumReplySize_;
  CURLM* const multi_;
  std::atomic<std::uint64_t> nextId_{1};
  std::mutex mutex_;
  std::vector<std::unique_ptr<Task>> incoming_;  // guarded by mutex_
  std::vector<std::uint64_t> cancelled_;          // guarded by mutex_
  bool stopping_ = false;                          // guarded by mutex_
  std::map<CURL*, std::unique_ptr<Task>> running_;  // transfer thread only
  std::unique_ptr<Thread> thread_;                  // last: stopped first
};

URLSession::URLSession(DispatchQueue& queue, std::size_t maximumReplySize)
    : engine_(std::make_shared<Engine>(queue, maximumReplySize)) {}

URLSession::~URLSession() = default;

std::uint64_t URLSession::dataTask(URLRequest request, std::optional<URLCredential> credential,
                                   Completion completion, Progress progress) {
  return engine_->add(std::move(request), std::move(credential), std::move(completion), std::move(progress));
}

void URLSession::cancel(std::uint64_t taskId) { engine_->cancel(taskId); }

}  // namespace platform
