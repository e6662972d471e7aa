#include "support/AmazonUploader.h"

#include <algorithm>
#include <fstream>

#include <pugixml.hpp>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "support/PercentEncoding.h"
#include "support/StorageCrypto.h"
#include "support/ZendeskTexts.h"

namespace support {

namespace {
constexpr std::size_t kMaximumReply = std::size_t{8} << 20;
constexpr const char* kNotConfigured = "Cloud storage is not configured.";
constexpr std::int64_t kReadPiece = 256 << 10;

bool cancelled(const platform::Error& error) {
  return error.domain == platform::kURLSessionErrorDomain &&
         error.code == static_cast<int>(platform::URLSessionErrorCode::Cancelled);
}

std::string headerOf(const platform::URLResponse& response, const std::string& name) {
  for (const auto& [key, value] : response.headers) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      return value;
    }
  }
  return {};
}

std::string allHeaders(const platform::URLResponse& response) {
  std::string text;
  for (const auto& [key, value] : response.headers) text += key + ": " + value + "\n";
  return text;
}

// The text of the root's first child element `name`; none when the reply is
// not XML or has no such element.
std::optional<std::string> rootChildText(const std::string& body, const char* name) {
  pugi::xml_document document;
  if (!document.load_buffer(body.data(), body.size())) return std::nullopt;
  pugi::xml_node child = document.document_element().child(name);
  if (!child) return std::nullopt;
  return std::string(child.text().get());
}
}  // namespace

AmazonUploader::AmazonUploader(AmazonUploaderProtocol* delegate, CloudStorageConfiguration configuration)
    : delegate_(delegate),
      configuration_(std::move(configuration)),
      signer_(StorageSigner::make(configuration_)),
      session_(std::make_unique<platform::URLSession>(platform::DispatchQueue::main(), kMaximumReply)) {}

std::string AmazonUploader::objectPath(const std::string& key) const {
  return "/" + percentEncoded(configuration_.bucketName + "/" + key, PercentEncodingPart::Path);
}

void AmazonUploader::fail(const char* operation, const std::string& text) {
  if (!delegate_->respondsTo(operation)) return;
  if (std::string_view(operation) == "amazonSegmentFileUploadError") delegate_->amazonSegmentFileUploadError(text);
  else delegate_->amazonFileUploadError(text);
}

bool AmazonUploader::refuseWhenUnconfigured() {
  if (configuration_.isComplete() && !fileName_.empty()) return false;
  platform::DispatchQueue::main().async([this, alive = std::weak_ptr<int>(lifetime_)] {
    if (!alive.expired()) fail("amazonFileUploadError", kNotConfigured);
  });
  return true;
}

void AmazonUploader::send(platform::URLRequest request, const std::string& path, const std::string& query,
                          std::optional<std::string> payloadSha256, std::function<void(Reply)> completion,
                          bool reportsProgress) {
  request.url = configuration_.endpoint + path + (query.empty() ? "" : "?" + query);
  request.certificateAuthorities = configuration_.certificateAuthorities;
  signer_->sign(request, {path, query, std::move(payloadSha256)}, platform::Clock::current().wallNow());
  sentInTask_ = 0;
  auto alive = std::weak_ptr<int>(lifetime_);
  auto progress = [this, alive](std::int64_t sent, std::int64_t, std::int64_t, std::int64_t) {
    if (alive.expired() || sent <= sentInTask_) return;
    const std::int64_t step = sent - sentInTask_;
    sentInTask_ = sent;
    if (delegate_->respondsTo("uploadDataReceived")) {
      delegate_->uploadDataReceived(step, static_cast<std::int64_t>(etags_.size()) * segmentSize + sent, totalSize_);
    }
  };
  auto id = std::make_shared<std::uint64_t>(0);
  *id = session_->dataTask(std::move(request), std::nullopt,
                           [this, alive, id, completion = std::move(completion)](Reply reply) {
                             if (alive.expired()) return;
                             if (task_ == *id) task_.reset();  // a cancelled one may end after its successor began
                             completion(std::move(reply));
                           },
                           reportsProgress ? platform::URLSession::Progress(progress) : platform::URLSession::Progress());
  task_ = *id;
}

void AmazonUploader::uploadFileAtURL(const std::filesystem::path& file, bool isUsingMultipartUpload) {
  stopReadingAhead();
  std::error_code error;
  totalSize_ = static_cast<std::int64_t>(std::filesystem::file_size(file, error));
  if (error) totalSize_ = 0;
  file_ = file;
  if (!isUsingMultipartUpload) {
    fileName_ = remotePath + file.filename().string();
    sendSinglePut();
    return;
  }
  isUploadCancelledByUser_ = false;
  fileName_ = file.filename().string();
  getMultiPartUploadId();
}

void AmazonUploader::resumeFileUpload(bool isUsingMultipartUpload) {
  if (!isUsingMultipartUpload) {
    sendSinglePut();
    return;
  }
  isUploadCancelledByUser_ = false;
  stopReadingAhead();  // the file may have changed since
  if (!uploadId_) {
    getMultiPartUploadId();
    return;
  }
  uploadNextMultiPartSegment(static_cast<std::int64_t>(etags_.size()) * segmentSize);
}

void AmazonUploader::sendSinglePut() {
  if (refuseWhenUnconfigured()) return;
  platform::URLRequest request;
  request.method = "PUT";
  request.headers.emplace_back("Content-Type", "application/octet-stream");
  request.uploadFile = file_;
  const std::string key = fileName_;
  send(std::move(request), objectPath(key), {}, std::nullopt, [this, key](Reply reply) {
    if (!reply) {
      if (!cancelled(reply.error())) fail("amazonSegmentFileUploadError", reply.error().localizedDescription);
      return;
    }
    if (reply->statusCode != 200) {
      fail("amazonFileUploadError", ZendeskTexts::statusText(reply->statusCode));
      return;
    }
    if (delegate_->respondsTo("amazonFileUploadedSuccessfully")) {
      delegate_->amazonFileUploadedSuccessfully(objectURL(key), file_);
    }
  }, true);
}

void AmazonUploader::getMultiPartUploadId() {
  if (refuseWhenUnconfigured()) return;
  // An id left from an earlier upload must never be reused for this one.
  uploadId_.reset();
  etags_.clear();
  platform::URLRequest request;
  request.method = "POST";
  request.headers.emplace_back("Content-Type", "");
  send(std::move(request), objectPath(remotePath + fileName_), "uploads", StorageCrypto::hex(StorageCrypto::sha256({})),
       [this](Reply reply) {
         if (!reply) {
           if (!cancelled(reply.error())) fail("amazonFileUploadError", reply.error().localizedDescription);
           return;
         }
         if (reply->statusCode != 200) {
           fail("amazonFileUploadError", ZendeskTexts::statusText(reply->statusCode));
           return;
         }
         std::optional<std::string> id = rootChildText(reply->body, "UploadId");
         if (!id || id->empty()) {
           fail("amazonFileUploadError", "The cloud storage did not start the upload (no upload id).");
           return;
         }
         uploadId_ = std::move(id);
         uploadNextMultiPartSegment(0);
       });
  keepReadingAhead(0);  // while the store answers
}

std::optional<AmazonUploader::Segment> AmazonUploader::readSegment(const std::filesystem::path& file,
                                                                   std::int64_t offset, std::int64_t size) {
  std::ifstream input(file, std::ios::binary);
  input.seekg(offset);
  StorageCrypto::Sha256 digest;
  std::string piece(static_cast<std::size_t>(std::min(kReadPiece, std::max<std::int64_t>(size, 1))), '\0');
  std::int64_t length = 0;
  while (length < size && input) {
    input.read(piece.data(), std::min<std::int64_t>(static_cast<std::int64_t>(piece.size()), size - length));
    digest.update(std::string_view(piece.data(), static_cast<std::size_t>(input.gcount())));
    length += input.gcount();
  }
  if (input.bad() || (!input && !input.eof())) return std::nullopt;
  return Segment{length, StorageCrypto::hex(digest.finish())};
}

void AmazonUploader::readAhead(std::int64_t offset) {
  auto pending = std::make_shared<PendingSegment>();
  pending->offset = offset;
  readAhead_.push_back(pending);
  platform::DispatchQueue::global().async([this, alive = std::weak_ptr<int>(lifetime_), pending, file = file_,
                                           size = segmentSize] {
    std::optional<Segment> segment = readSegment(file, pending->offset, size);
    platform::DispatchQueue::main().async([this, alive, pending, segment = std::move(segment)]() mutable {
      if (alive.expired()) return;
      pending->segment = std::move(segment);
      pending->finished = true;
      if (awaitedOffset_ == pending->offset && !readAhead_.empty() && readAhead_.front() == pending) {
        awaitedOffset_.reset();
        uploadNextMultiPartSegment(pending->offset);
      }
    });
  });
}

void AmazonUploader::keepReadingAhead(std::int64_t offset) {
  if (readAhead_.empty() || readAhead_.front()->offset != offset) {
    readAhead_.clear();
    readAhead(offset);
  }
  // Up to kReadAhead segments under way; the file's end is where the last
  // (maybe empty) segment starts.
  for (std::int64_t next = readAhead_.back()->offset + segmentSize;
       readAhead_.size() < kReadAhead && next <= totalSize_; next += segmentSize) {
    readAhead(next);
  }
}

void AmazonUploader::uploadNextMultiPartSegment(std::int64_t offset) {
  keepReadingAhead(offset);
  if (!readAhead_.front()->finished) {
    awaitedOffset_ = offset;
    return;
  }
  std::optional<Segment> segment = std::move(readAhead_.front()->segment);
  readAhead_.pop_front();
  if (!segment) {
    readAhead_.clear();
    fail("amazonSegmentFileUploadError", "Cannot read " + file_.string() + ".");
    return;
  }
  const std::int64_t length = segment->length;
  // The next segments are hashed while this one goes out.
  if (length >= segmentSize) keepReadingAhead(offset + length);
  const std::string query = "partNumber=" + std::to_string(etags_.size() + 1) +
                            "&uploadId=" + percentEncoded(*uploadId_, PercentEncodingPart::QueryValue);
  platform::URLRequest request;
  request.method = "PUT";
  request.headers.emplace_back("Content-Type", "application/octet-stream");
  request.headers.emplace_back("Content-Size", std::to_string(segmentSize));
  request.uploadFile = file_;
  request.uploadRange = platform::URLRequest::FileRange{offset, length};
  send(std::move(request), objectPath(remotePath + fileName_), query, std::move(segment->sha256),
       [this, length, offset](Reply reply) { segmentSent(std::move(reply), length, offset + length); }, true);
}

void AmazonUploader::stopReadingAhead() {
  readAhead_.clear();
  awaitedOffset_.reset();
}

void AmazonUploader::segmentSent(Reply reply, std::int64_t length, std::int64_t nextOffset) {
  if (!reply) {
    if (!isUploadCancelledByUser_ && !cancelled(reply.error())) {
      fail("amazonSegmentFileUploadError", reply.error().localizedDescription);
    }
    return;
  }
  if (reply->statusCode != 200) {
    fail("amazonSegmentFileUploadError", ZendeskTexts::statusText(reply->statusCode));
    return;
  }
  std::string etag = headerOf(*reply, "ETag");
  if (etag.empty()) {
    // Without it the part cannot be listed: stop here, a resume sends it again.
    fail("amazonSegmentFileUploadError", allHeaders(*reply));
    return;
  }
  etags_.push_back(std::move(etag));
  if (length >= segmentSize) uploadNextMultiPartSegment(nextOffset);
  else completeMultiPartUpload();
}

void AmazonUploader::completeMultiPartUpload() {
  std::string body = "<CompleteMultipartUpload>\n";
  for (std::size_t i = 0; i < etags_.size(); ++i) {
    body += "<Part>\n<PartNumber>" + std::to_string(i + 1) + "</PartNumber>\n<ETag>" + etags_[i] + "</ETag>\n</Part>\n";
  }
  body += "</CompleteMultipartUpload>";
  platform::URLRequest request;
  request.method = "POST";
  request.headers.emplace_back("Content-Type", "");
  std::string payload = StorageCrypto::hex(StorageCrypto::sha256(body));
  request.body = std::move(body);
  const std::string key = remotePath + fileName_;
  send(std::move(request), objectPath(key), "uploadId=" + percentEncoded(*uploadId_, PercentEncodingPart::QueryValue),
       std::move(payload), [this, key](Reply reply) {
         if (!reply) {
           if (!cancelled(reply.error())) fail("amazonFileUploadError", reply.error().localizedDescription);
           return;
         }
         // The store can refuse the completion inside a 200 reply.
         std::optional<std::string> refusal = rootChildText(reply->body, "Code");
         if (reply->statusCode != 200 || refusal) {
           fail("amazonFileUploadError", refusal ? *refusal : ZendeskTexts::statusText(reply->statusCode));
           return;
         }
         etags_.clear();
         if (delegate_->respondsTo("amazonFileUploadedSuccessfully")) {
           delegate_->amazonFileUploadedSuccessfully(objectURL(key), file_);
         }
       });
}

void AmazonUploader::abortFileUploadAtPath(const std::string& fileName, bool isUsingMultipartUpload) {
  if (!isUsingMultipartUpload) {
    if (task_) session_->cancel(*task_);
    return;
  }
  abortMultiPartUpload(fileName);
}

void AmazonUploader::abortMultiPartUpload(const std::string& fileName) {
  isUploadCancelledByUser_ = true;
  stopReadingAhead();
  if (task_) session_->cancel(*task_);
  if (!uploadId_) {
    // Nothing was started on the store yet.
    etags_.clear();
    platform::DispatchQueue::main().async([this, alive = std::weak_ptr<int>(lifetime_)] {
      if (!alive.expired() && delegate_->respondsTo("cancelMultipartUploadSuccessfully")) {
        delegate_->cancelMultipartUploadSuccessfully();
      }
    });
    return;
  }
  platform::URLRequest request;
  request.method = "DELETE";
  send(std::move(request), objectPath(remotePath + fileName),
       "uploadId=" + percentEncoded(*uploadId_, PercentEncodingPart::QueryValue),
       StorageCrypto::hex(StorageCrypto::sha256({})), [this](Reply reply) {
         if (!reply) {
           fail("amazonFileUploadError", reply.error().localizedDescription);
           return;
         }
         if (reply->statusCode != 200 && reply->statusCode != 204) {
           fail("amazonFileUploadError", ZendeskTexts::statusText(reply->statusCode));
           return;
         }
         etags_.clear();
         if (delegate_->respondsTo("cancelMultipartUploadSuccessfully")) delegate_->cancelMultipartUploadSuccessfully();
       });
}

}  // namespace support
