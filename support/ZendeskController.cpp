#include "support/ZendeskController.h"

#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/Base64.h"
#include "platform/Diagnostics.h"
#include "support/PercentEncoding.h"
#include "support/ZendeskTexts.h"

namespace support {

namespace {
constexpr std::size_t kMaximumReply = std::size_t{8} << 20;
constexpr const char* kApplicationField = "246855";
constexpr const char* kDeviceModelField = "263331";
constexpr const char* kOSVersionField = "254783";

void log(const char* message) { platform::reportDiagnostic(platform::DiagnosticLevel::Info, message); }

bool succeeded(long status) { return status >= 200 && status < 400; }

std::string infoString(const platform::Dictionary& info, const char* key) {
  auto it = info.find(key);
  return it == info.end() ? std::string() : it->second.stringOr("");
}

// "request" → "id" of a reply, when it is an integer.
std::optional<std::int64_t> requestID(const std::string& body) {
  nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
  if (!reply.is_object() || !reply.contains("request") || !reply["request"].is_object()) return std::nullopt;
  const nlohmann::json& request = reply["request"];
  auto id = request.find("id");
  if (id == request.end() || !id->is_number_integer()) return std::nullopt;
  return id->get<std::int64_t>();
}
}  // namespace

ZendeskController::ZendeskController(ZendeskControllerDelegate_Protocol* delegate, ZendeskConfiguration configuration)
    : delegate_(delegate),
      configuration_(std::move(configuration)),
      session_(std::make_unique<platform::URLSession>(platform::DispatchQueue::main(), kMaximumReply)) {}

void ZendeskController::tell(std::string_view operation, const std::function<void()>& call) {
  if (delegate_->respondsTo(operation)) call();
}

void ZendeskController::tellRequestFailed(long status) {
  const std::string message = ZendeskTexts::updateFailure(status, configuration_.supportWebAddress);
  tell("zendeskRequestFailedErrorDescription", [&] { delegate_->zendeskRequestFailedErrorDescription(message); });
}

void ZendeskController::send(std::string method, const std::string& address, std::string body,
                             const std::string& email, Handler handler,
                             std::optional<std::filesystem::path> uploadFile, std::string contentType) {
  auto alive = std::weak_ptr<int>(lifetime_);
  if (!configuration_.isComplete()) {
    // Without the token the help desk is unreachable: the same road as no connection.
    platform::DispatchQueue::main().async([handler, alive] {
      if (!alive.expired()) handler(0, {});
    });
    return;
  }
  platform::URLRequest request;
  request.method = std::move(method);
  request.url = address.rfind("https://", 0) == 0 || address.rfind("http://", 0) == 0
                    ? address
                    : configuration_.baseAddress + address;
  request.certificateAuthorities = configuration_.certificateAuthorities;
  std::string login = email + "/token:" + configuration_.token;
  request.headers.emplace_back(
      "Authorization", "Basic " + platform::base64Encode(reinterpret_cast<const std::uint8_t*>(login.data()), login.size()));
  if (!body.empty() || uploadFile) request.headers.emplace_back("Content-Type", std::move(contentType));
  request.body = std::move(body);
  request.uploadFile = std::move(uploadFile);
  session_->dataTask(std::move(request), std::nullopt,
                     [handler, alive](platform::Result<platform::URLResponse> reply) {
                       if (alive.expired()) return;
                       if (!reply) handler(0, {});
                       else handler(reply->statusCode, reply->body);
                     });
}

const platform::Array* ZendeskController::optionsOf(const char* fieldID) const {
  auto it = ticketFieldsInfoDict_.find(fieldID);
  return it == ticketFieldsInfoDict_.end() ? nullptr : &it->second;
}

void ZendeskController::setZendeskFieldTagForDeviceModelName(const std::string& modelName) {
  deviceModelTag_ = ZendeskTexts::deviceModelTag(modelName, optionsOf(kDeviceModelField));
}

void ZendeskController::getTicketFieldsInfoWithID(const std::string& fieldID) {
  send("GET", "ticket_fields/" + percentEncoded(fieldID, PercentEncodingPart::QueryValue) + ".json", {},
       configuration_.agentAddress, [this](long status, const std::string& body) {
         if (!succeeded(status)) return;
         nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
         if (!reply.is_object() || !reply.contains("ticket_field") || !reply["ticket_field"].is_object()) return;
         const nlohmann::json& field = reply["ticket_field"];
         auto id = field.find("id");
         if (id == field.end() || !id->is_number_integer()) return;
         platform::Array options;
         auto list = field.find("custom_field_options");
         if (list != field.end() && list->is_array()) {
           for (const nlohmann::json& option : *list) {
             if (!option.is_object()) continue;
             platform::Dictionary entry;
             for (const char* key : {"name", "value"}) {
               if (option.contains(key) && option[key].is_string()) entry[key] = option[key].get<std::string>();
             }
             options.push_back(std::move(entry));
           }
         }
         const std::string fieldID = std::to_string(id->get<std::int64_t>());
         ticketFieldsInfoDict_[fieldID] = std::move(options);
         tell("ticketFieldsInfoRetrievedWithFieldUniqueID",
              [&] { delegate_->ticketFieldsInfoRetrievedWithFieldUniqueID(fieldID); });
       });
}

void ZendeskController::getTicketAllowLargeFileUpload(const std::optional<std::string>& ticketID) {
  if (!ticketID) return;
  send("GET", "tickets/" + percentEncoded(*ticketID, PercentEncodingPart::QueryValue) + ".json", {},
       configuration_.agentAddress, [this](long status, const std::string& body) {
         if (status == 0 || body.empty()) {
           tellRequestFailed(status);
           return;
         }
         nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
         bool allowed = false;
         if (succeeded(status) && reply.is_object() && reply.contains("ticket") && reply["ticket"].is_object()) {
           const nlohmann::json& ticket = reply["ticket"];
           auto tags = ticket.find("tags");
           if (tags != ticket.end() && tags->is_array()) {
             for (const nlohmann::json& tag : *tags) allowed = allowed || tag == "allowlargefileupload";
           }
         }
         tell("showUpdateTicketPanel", [&] { delegate_->showUpdateTicketPanel(allowed); });
       });
}

void ZendeskController::getUserInfoWithEmail(const std::optional<std::string>& email) {
  if (!email) {
    log("Contact Support: ZendeskController: Error no email entered");
    return;
  }
  send("GET", "users/search.json?query=" + percentEncoded(*email, PercentEncodingPart::QueryValue), {},
       configuration_.agentAddress, [this](long status, const std::string& body) {
         // A server fault or no connection does not mean "no such user".
         if (!succeeded(status)) {
           tell("userInfoRetrievedFailed", [&] { delegate_->userInfoRetrievedFailed(); });
           return;
         }
         updateUserInfoFromJSONData(body);
         tell("userInfoRetrieved", [&] { delegate_->userInfoRetrieved(); });
       });
}

void ZendeskController::createUserWithEmail(const std::optional<std::string>& email,
                                            const std::optional<std::string>& loginName) {
  if (!email || !loginName) {
    log("Contact Support: ZendeskController: Error no email or login entered");
    return;
  }
  nlohmann::ordered_json body = {{"user", {{"name", *loginName}, {"email", *email}, {"verified", true}}}};
  send("POST", "users.json", body.dump(), configuration_.agentAddress, [this](long status, const std::string& reply) {
    if (!succeeded(status)) {
      tell("userInfoRetrievedFailed", [&] { delegate_->userInfoRetrievedFailed(); });
      return;
    }
    updateUserInfoFromJSONData(reply);
    tell("newUserCreated", [&] { delegate_->newUserCreated(); });
  });
}

void ZendeskController::verifyUserWithEmail(const std::optional<std::string>& email) {
  if (!email) {
    log("Contact Support: ZendeskController: Error no email entered");
    return;
  }
  nlohmann::ordered_json body = {{"user", {{"verified", true}}}};
  send("PUT", "users/" + percentEncoded(userID_, PercentEncodingPart::QueryValue) + ".json", body.dump(),
       configuration_.agentAddress, [this](long status, const std::string& reply) {
         if (succeeded(status) && !reply.empty()) tell("userHasBeenVerified", [&] { delegate_->userHasBeenVerified(); });
       });
}

void ZendeskController::uploadFilesAtPath(const std::filesystem::path& path) {
  if (!std::ifstream(path, std::ios::binary).good() || std::filesystem::is_directory(path)) return;
  const std::string name = percentEncoded(path.filename().string(), PercentEncodingPart::QueryValue);
  send("POST", "uploads.json?filename=" + name, {}, configuration_.agentAddress,
       [this](long status, const std::string& body) {
         if (!succeeded(status) || body.empty()) {
           tellRequestFailed(status);
           return;
         }
         nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
         std::optional<std::string> token;
         if (reply.is_object() && reply.contains("token") && reply["token"].is_string()) {
           token = reply["token"].get<std::string>();
         }
         tell("filesUploadedWithToken", [&] { delegate_->filesUploadedWithToken(token); });
       },
       path, "application/binary");
}

bool ZendeskController::createZendeskTicket(const ZendeskNewTicket& ticket) {
  const platform::Dictionary info = delegate_->applicationInfo();
  std::string text = ZendeskTexts::encodeStringForPost(ticket.description);
  if (ticket.uploadToken) text += *ticket.uploadToken;
  text = ZendeskTexts::encodeStringForPost(text);
  auto orDash = [](const std::optional<std::string>& value) { return value && !value->empty() ? *value : "-"; };
  const std::pair<const char*, std::string> fields[] = {
      {kApplicationField, ZendeskTexts::applicationTag(infoString(info, "bundleName"), optionsOf(kApplicationField))},
      {kDeviceModelField, deviceModelTag_},
      {"246871", "unknown_video_device"},
      {"263141", ticket.requesterType},
      {"20566173", "unknow_saleschannel"},
      {"265394", orDash(ticket.endUserCompany)},
      {"465067", orDash(ticket.company)},
      {kOSVersionField, ZendeskTexts::osTag(infoString(info, "macOSVersionString"), optionsOf(kOSVersionField))},
      {"246856", infoString(info, "bundleVersion")},
  };
  nlohmann::ordered_json customFields = nlohmann::ordered_json::array();
  for (const auto& [id, value] : fields) customFields.push_back({{"id", id}, {"value", value}});
  nlohmann::ordered_json tags = nlohmann::ordered_json::array();
  if (isSupportFolderTooLarge) tags.push_back("logstoolarge");
  nlohmann::ordered_json body = {{"request",
                                  {{"subject", ticket.title},
                                   {"custom_fields", customFields},
                                   {"comment", {{"html_body", text}}},
                                   {"tags", tags}}}};
  send("POST", "requests.json", body.dump(), ticket.email, [this](long status, const std::string& reply) {
    std::optional<std::int64_t> id = succeeded(status) ? requestID(reply) : std::nullopt;
    if (id) {
      tell("zendeskTicketSentSuccessFullyWithTicketUniqueID",
           [&] { delegate_->zendeskTicketSentSuccessFullyWithTicketUniqueID(*id); });
      return;
    }
    // A success without the new ticket's id is no success for the customer.
    const std::string message = ZendeskTexts::creationFailure(status, configuration_.supportWebAddress);
    tell("creationTicketFailedErrorDescription", [&] { delegate_->creationTicketFailedErrorDescription(message); });
  });
  return true;
}

void ZendeskController::updateZendeskTicketWithUploadToken(const std::optional<std::string>& uploadToken,
                                                           const std::string& ticketID,
                                                           const std::optional<std::string>& comment,
                                                           const std::string& email, bool isInternalNote) {
  nlohmann::ordered_json note = {{"html_body", ZendeskTexts::encodeStringForPost(comment)}};
  const std::string id = percentEncoded(ticketID, PercentEncodingPart::QueryValue);
  if (isInternalNote) {
    note["public"] = false;
    if (uploadToken) note["uploads"] = *uploadToken;
    nlohmann::ordered_json body = {{"ticket", {{"comment", note}}}};
    send("PUT", "tickets/" + id + ".json", body.dump(), email, [](long, const std::string&) {});
    return;
  }
  if (uploadToken) note["uploads"] = *uploadToken;
  nlohmann::ordered_json body = {{"request", {{"comment", note}}}};
  send("PUT", "requests/" + id + ".json", body.dump(), email, [this](long status, const std::string& reply) {
    std::optional<std::int64_t> updated = succeeded(status) ? requestID(reply) : std::nullopt;
    if (updated) {
      const std::string text = std::to_string(static_cast<std::uint64_t>(*updated));
      tell("zendeskTicketUpdatedSuccessFullyWithTicketUniqueID",
           [&] { delegate_->zendeskTicketUpdatedSuccessFullyWithTicketUniqueID(text); });
      return;
    }
    // The window waits for one of the two answers, also when nothing came back.
    const std::string message = ZendeskTexts::updateFailure(status, configuration_.supportWebAddress);
    tell("updateTicketFailedErrorDescription", [&] { delegate_->updateTicketFailedErrorDescription(message); });
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
  tell("setUserID", [&] { delegate_->setUserID(userID_); });
}

}  // namespace support
