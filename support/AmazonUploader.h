#pragma once
// The object-store client: puts a file into the support bucket in one
// streamed PUT or as a multipart upload of `segmentSize` segments (sent in
// order, each streamed from its range of the file; the next ones hashed on
// background threads meanwhile),
// reports progress, aborts and resumes from the first segment without an ETag. Path-style requests, signed as configured.
// Replies are bounded. Main thread only; callbacks on the main queue.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/network/URLSession.h"
#include "support/AmazonUploaderProtocol.h"
#include "support/StorageSigner.h"
#include "support/SupportConfiguration.h"

namespace support {

class AmazonUploader {
 public:
  // delegate: not owned; the controller outlives its uploader.
  AmazonUploader(AmazonUploaderProtocol* delegate, CloudStorageConfiguration configuration);

  std::string remotePath;  // key prefix, e.g. "Case 1234/"
  std::int64_t segmentSize = 0xA00000;
  // Segments read and hashed ahead of the one being sent: one, so that reading
  // overlaps sending while memory stays at a couple of segments.
  static constexpr std::size_t kReadAhead = 2;

  const std::string& bucketName() const { return configuration_.bucketName; }
  const std::optional<std::string>& currentMultiPartUploadId() const { return uploadId_; }
  const std::vector<std::string>& multipartSegmentEtagArray() const { return etags_; }

  void uploadFileAtURL(const std::filesystem::path& file, bool isUsingMultipartUpload);
  void resumeFileUpload(bool isUsingMultipartUpload);
  // The file name is that of the multipart upload to abort.
  void abortFileUploadAtPath(const std::string& fileName, bool isUsingMultipartUpload);

 private:
  using Reply = platform::Result<platform::URLResponse>;
  void sendSinglePut();
  void getMultiPartUploadId();
  // A segment hashed, ready to send from the file.
  struct Segment {
    std::int64_t length = 0;
    std::string sha256;  // hex
  };
  // A segment being read and hashed on a background queue.
  struct PendingSegment {
    std::int64_t offset = 0;
    bool finished = false;
    std::optional<Segment> segment;  // none when the read failed
  };
  void uploadNextMultiPartSegment(std::int64_t offset);
  void readAhead(std::int64_t offset);
  // Makes the segment at `offset` the next to send, with those after it read ahead.
  void keepReadingAhead(std::int64_t offset);
  // Reads and hashes the segment at `offset`; none when the file cannot be
  // read. Any thread.
  static std::optional<Segment> readSegment(const std::filesystem::path& file, std::int64_t offset,
                                            std::int64_t size);
  void segmentRead(const std::shared_ptr<PendingSegment>& pending);
  void stopReadingAhead();
  void segmentSent(Reply reply, std::int64_t length, std::int64_t nextOffset);
  void completeMultiPartUpload();
  void abortMultiPartUpload(const std::string& fileName);
  // Signs and starts a request; `path` is "/<bucket>/<key>" encoded, `query` without "?".
  // Only the file's bytes (a single PUT or a segment) count as progress.
  void send(platform::URLRequest request, const std::string& path, const std::string& query,
            std::optional<std::string> payloadSha256, std::function<void(Reply)> completion,
            bool reportsProgress = false);
  std::string objectPath(const std::string& key) const;
  std::string objectURL(const std::string& key) const { return configuration_.endpoint + objectPath(key); }
  bool refuseWhenUnconfigured();
  void fail(const char* operation, const std::string& text);

  AmazonUploaderProtocol* delegate_;
  CloudStorageConfiguration configuration_;
  std::unique_ptr<StorageSigner> signer_;
  std::unique_ptr<platform::URLSession> session_;
  std::optional<std::uint64_t> task_;  // the one request under way
  std::filesystem::path file_;
  std::string fileName_;  // the key of a single PUT; the file's name for a multipart upload
  std::int64_t totalSize_ = 0;
  std::int64_t sentInTask_ = 0;
  bool isUploadCancelledByUser_ = false;
  std::optional<std::string> uploadId_;
  std::vector<std::string> etags_;
  // The next segments, in order, read and hashed while earlier ones go out.
  std::deque<std::shared_ptr<PendingSegment>> readAhead_;
  std::optional<std::int64_t> awaitedOffset_;  // the segment due, still being read
  std::shared_ptr<int> lifetime_ = std::make_shared<int>();
};

}  // namespace support
