#include "support/ZendeskController.h"

#include <cctype>

#include <nlohmann/json.hpp>

#include "platform/Base64.h"
#include "platform/Diagnostics.h"

namespace support {

namespace {
constexpr std::size_t kMaximumReply = std::size_t{8} << 20;

std::string percentEncoded(const std::string& text) {
  std::string encoded;
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') encoded += static_cast<char>(c);
    else encoded += {'%', hex[c >> 4], hex[c & 15]};
  }
  return encoded;
}
}  // namespace

ZendeskController::ZendeskController(ZendeskControllerDelegate_Protocol* delegate, ZendeskConfiguration configuration)
    : delegate_(delegate),
      configuration_(std::move(configuration)),
      session_(std::make_unique<platform::URLSession>(platform::DispatchQueue::main(), kMaximumReply)) {}

void ZendeskController::send(std::string method, std::string path, std::string body, const std::string& email,
                             std::function<void(long, const std::string&)> handler) {
  platform::URLRequest request;
  request.method = std::move(method);
  request.url = configuration_.baseAddress + path;
  std::string login = email + "/token:" + configuration_.token;
  request.headers.emplace_back(
      "Authorization", "Basic " + platform::base64Encode(reinterpret_cast<const std::uint8_t*>(login.data()), login.size()));
  if (!body.empty()) request.headers.emplace_back("Content-Type", "application/json");
  request.body = std::move(body);
  session_->dataTask(std::move(request), std::nullopt,
                     [handler, alive = std::weak_ptr<int>(lifetime_)](platform::Result<platform::URLResponse> reply) {
                       if (alive.expired()) return;
                       if (!reply) handler(0, {});
                       else handler(reply->statusCode, reply->body);
                     });
}

void ZendeskController::getUserInfoWithEmail(const std::optional<std::string>& email) {
  if (!email) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                               "Contact Support: ZendeskController: Error no email entered");
    return;
  }
  send("GET", "users/search.json?query=" + percentEncoded(*email), {}, configuration_.agentAddress,
       [this](long status, const std::string& body) {
         // A server fault or no connection does not mean "no such user".
         if (status < 200 || status >= 400) {
           if (delegate_->respondsTo("userInfoRetrievedFailed")) delegate_->userInfoRetrievedFailed();
           return;
         }
         updateUserInfoFromJSONData(body);
         if (delegate_->respondsTo("userInfoRetrieved")) delegate_->userInfoRetrieved();
       });
}

void ZendeskController::updateUserInfoFromJSONData(const std::string& body) {
  nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
  const nlohmann::json* users = reply.is_object() && reply.contains("users") ? &reply["users"] : nullptr;
  if (!users || !users->is_array() || users->empty() || !(*users)[0].is_object()) {
    zendeskUserState_ = 2;
    return;
  }
  const nlohmann::json& user = (*users)[0];
  auto id = user.find("id");
  if (id == user.end() || !id->is_number_unsigned()) {
    zendeskUserState_ = 2;
    return;
  }
  auto verified = user.find("verified");
  zendeskUserState_ = verified != user.end() && verified->is_boolean() && verified->get<bool>() ? 0 : 1;
  userID_ = std::to_string(id->get<std::uint64_t>());
  auto organization = user.find("organization_id");
  organizationID_ = organization != user.end() && organization->is_number_unsigned()
                        ? std::to_string(organization->get<std::uint64_t>())
                        : std::string();
  auto name = user.find("name");
  userName_ = name != user.end() && name->is_string() ? name->get<std::string>() : std::string();
  if (delegate_->respondsTo("setUserID")) delegate_->setUserID(userID_);
}

}  // namespace support
