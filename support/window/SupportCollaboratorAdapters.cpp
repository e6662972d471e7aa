#include "support/window/SupportCollaboratorAdapters.h"

#include "platform/DispatchQueue.h"

namespace support::window {

ZendeskHelpDesk::ZendeskHelpDesk(ZendeskControllerDelegate_Protocol& delegate, ZendeskConfiguration configuration,
                                 std::string homePage)
    : client_(&delegate, configuration),
      configuration_(std::move(configuration)),
      homePage_(std::move(homePage)),
      session_(std::make_unique<platform::URLSession>(platform::DispatchQueue::main(), 1u << 20)) {}

ZendeskHelpDesk::~ZendeskHelpDesk() = default;

void ZendeskHelpDesk::checkConnection(ReachabilityAnswer answer) {
  // Without a token the client reaches nothing: the desk counts as unreachable.
  if (homePage_.empty() || !configuration_.isComplete()) {
    platform::DispatchQueue::main().async([answer, alive = std::weak_ptr<int>(lifetime_)] {
      if (!alive.expired()) answer(Reachability::Unreachable);
    });
    return;
  }
  platform::URLRequest request;
  request.url = homePage_;
  request.timeout = std::chrono::seconds(30);
  request.certificateAuthorities = configuration_.certificateAuthorities;
  session_->dataTask(std::move(request), std::nullopt,
                     [answer, alive = std::weak_ptr<int>(lifetime_)](platform::Result<platform::URLResponse> reply) {
                       if (alive.expired()) return;
                       answer(reply && reply->statusCode == 200 ? Reachability::Reachable : Reachability::Unreachable);
                     });
}

}  // namespace support::window
