#include "media/live/CVNZiraAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"

namespace media {

std::shared_ptr<CVNDecompressionSession> CVNDecompressionSession::createWithZiraEvent(
    DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> delegateQueue,
    const std::optional<std::string>& sourceDescription, DecompressionSessionServices services) {
  return create(std::make_shared<CVNZiraAssetReader>(sourceDescription), std::move(delegate), std::move(delegateQueue),
                std::move(services));
}

}  // namespace media
