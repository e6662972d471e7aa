#pragma once
// The help-desk client's texts: post bodies, field tags and outcome messages.
#include <optional>
#include <string>

#include "platform/Value.h"

namespace support::ZendeskTexts {

std::string encodeStringForPost(const std::optional<std::string>& text);
std::string statusText(long status);
// "create" or "update" messages for a failed reply; status 0 is no connection.
std::string creationFailure(long status, const std::string& supportWebAddress);
std::string updateFailure(long status, const std::string& supportWebAddress);
// The option lists are those of ticketFieldsInfoDict.
std::string applicationTag(const std::string& applicationName, const platform::Array* options);
std::string deviceModelTag(const std::string& modelName, const platform::Array* options);
std::string osTag(const std::string& osVersion, const platform::Array* options);

}  // namespace support::ZendeskTexts
