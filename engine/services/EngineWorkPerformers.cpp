#include "engine/services/EngineWorkPerformers.h"

#include <utility>

#include "engine/services/MediaInformation.h"
#include "media/readers/CVNAssetReader.h"
#include "media/thumbnails/CVNAssetThumbnailGenerator.h"

namespace engine {

namespace {

media::MediaURL jobURL(const EngineWorkJob& job) {
  return media::MediaURL::URLWithString(job.value(kWorkURLKey).stringOr(""));
}

void loadInformation(platform::DispatchQueue& completionQueue, EngineWorkJob job,
                     std::shared_ptr<EngineWorkSlot> slot) {
  auto completion = std::get<InfoCompletionHandler>(std::move(job.workCompletionHandler));
  const media::MediaURL url = jobURL(job);
  auto reader = media::CVNAssetReader::assetReaderWithMediaURL(url, job.value(kWorkSourceDescriptionKey).stringOr(""));
  if (!reader) {
    slot->release();
    completionQueue.async([completion = std::move(completion), info = invalidMediaInformation(reasonWithoutReader(url))] {
      if (completion) completion(info);
    });
    return;
  }
  media::CVNAssetReader& loading = *reader;
  // The handler holds the reader until the load has answered.
  loading.loadInfoWithMetadata(true, true, [&completionQueue, reader = std::move(reader), slot = std::move(slot),
                                             completion = std::move(completion)] {
    platform::Dictionary info;
    addReaderProperties(info, *reader);
    slot->release();
    addValidityEntries(info, *reader);
    completionQueue.async([completion, info = std::move(info)] {
      if (completion) completion(info);
    });
  });
}

void makeThumbnail(platform::DispatchQueue& completionQueue, EngineWorkJob job, std::shared_ptr<EngineWorkSlot> slot) {
  auto completion = std::get<ThumbnailCompletionHandler>(std::move(job.workCompletionHandler));
  const auto generator = media::CVNAssetThumbnailGenerator::createWithMediaURL(jobURL(job));
  const auto answer = [&completionQueue, completion](media::ThumbnailDataRef data, std::int64_t bytesPerRow) {
    completionQueue.async([completion, data = std::move(data), bytesPerRow] {
      if (completion) completion(data, bytesPerRow);
    });
  };
  if (!generator) {
    // The caller still hears of it, and the slot is not lost.
    slot->release();
    answer(nullptr, 0);
    return;
  }
  const platform::Value& size = job.value(kWorkThumbnailSizeKey);
  const platform::Value none;
  const platform::Array* pair = size.array();
  const platform::Value& width = pair && pair->size() == 2 ? (*pair)[0] : none;
  const platform::Value& height = pair && pair->size() == 2 ? (*pair)[1] : none;
  generator->thumbnailWithDimensions(
      width.integerOr(0), height.integerOr(0), job.value(kWorkThumbnailTimeKey).realOr(0),
      job.value(kWorkThumbnailPrecisionKey).booleanOr(false),
      static_cast<std::uint32_t>(job.value(kWorkThumbnailFormatKey).integerOr(0)),
      [slot = std::move(slot), answer](media::ThumbnailDataRef data, std::int64_t bytesPerRow) {
        slot->release();
        answer(std::move(data), bytesPerRow);
      });
}

}  // namespace

EngineWorkQueue::Performers standardEngineWorkPerformers(platform::DispatchQueue& completionQueue) {
  return {
      [&completionQueue](EngineWorkJob job, std::shared_ptr<EngineWorkSlot> slot) {
        loadInformation(completionQueue, std::move(job), std::move(slot));
      },
      [&completionQueue](EngineWorkJob job, std::shared_ptr<EngineWorkSlot> slot) {
        makeThumbnail(completionQueue, std::move(job), std::move(slot));
      },
  };
}

EngineWorkQueue& sharedEngineWorkQueue() {
  // Never destroyed: jobs may still answer while the process ends.
  static EngineWorkQueue& queue = *new EngineWorkQueue(standardEngineWorkPerformers(platform::DispatchQueue::main()));
  return queue;
}

}  // namespace engine
