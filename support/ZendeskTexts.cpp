#include "support/ZendeskTexts.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace support::ZendeskTexts {

namespace {
std::string optionString(const platform::Value& option, const char* key) {
  const platform::Dictionary* entry = option.dictionary();
  if (!entry) return {};
  auto it = entry->find(key);
  return it == entry->end() ? std::string() : it->second.stringOr("");
}

bool hasOptionValue(const platform::Array* options, const std::string& value) {
  if (!options) return false;
  return std::any_of(options->begin(), options->end(), [&](const platform::Value& option) {
    return option.dictionary() && option.dictionary()->contains("name") && optionString(option, "value") == value;
  });
}
}  // namespace

std::string encodeStringForPost(const std::optional<std::string>& text) {
  if (!text) return {};
  std::string replaced;
  for (char c : *text) {
    if (c == '"') replaced += '\'';
    else if (c == '\t') replaced += ' ';
    else if (c == '\n') replaced += "<br>";
    else replaced += c;
  }
  for (std::size_t i = 0; i + 1 < replaced.size(); ++i) {
    if (replaced[i] == '\\' && replaced[i + 1] != 'n' && replaced[i + 1] != 't') replaced[i] = '|';
  }
  return replaced;
}

std::string statusText(long status) {
  static const std::map<long, const char*> texts = {
      {400, "bad request"},     {401, "unauthorized"},         {403, "forbidden"},
      {404, "not found"},       {409, "conflict"},             {413, "request too large"},
      {422, "unprocessable entity"}, {429, "too many requests"}, {500, "internal server error"},
      {502, "bad gateway"},     {503, "service unavailable"},  {504, "gateway timed out"}};
  if (auto it = texts.find(status); it != texts.end()) return it->second;
  if (status >= 500) return "server error";
  if (status >= 400) return "client error";
  return "no error";
}

namespace {
std::string failure(const char* verb, const char* clientPrefix, long status, const std::string& web) {
  std::string head = std::string("We could not ") + verb + " your support ticket.\n\n";
  if (status >= 400 && status <= 499) {
    return head + clientPrefix + std::to_string(status) + " " + statusText(status) +
           "\n\nPlease try again or manually create a ticket on our support desk.\n" + web + ".";
  }
  return head + "Error Code:" + std::to_string(status) + " " + statusText(status) +
         "\n\nPlease try again later or choose \"Collect Logs\" and send us the logs by email.";
}
}  // namespace

std::string creationFailure(long status, const std::string& web) {
  return failure("create", "HTTP Error Code: ", status, web);
}

std::string updateFailure(long status, const std::string& web) { return failure("update", "Error Code: ", status, web); }

std::string applicationTag(const std::string& applicationName, const platform::Array* options) {
  std::string name = applicationName;
  auto trim = [&](auto drop) {
    while (!name.empty() && drop(static_cast<unsigned char>(name.back()))) name.pop_back();
    std::size_t first = 0;
    while (first < name.size() && drop(static_cast<unsigned char>(name[first]))) ++first;
    name.erase(0, first);
  };
  trim([](unsigned char c) { return std::isdigit(c) != 0; });
  trim([](unsigned char c) { return std::isspace(c) != 0; });
  if (options) {
    for (const auto& option : *options) {
      if (optionString(option, "name") == name) return optionString(option, "value");
    }
  }
  return "unknown_application";
}

std::string deviceModelTag(const std::string& modelName, const platform::Array* options) {
  std::string value = modelName;
  std::transform(value.begin(), value.end(), value.begin(),
                 [](unsigned char c) { return c == ' ' ? '_' : static_cast<char>(std::tolower(c)); });
  return hasOptionValue(options, value) ? value : "unknown_device";
}

std::string osTag(const std::string& osVersion, const platform::Array* options) {
  auto point = osVersion.find('.');
  if (point == std::string::npos) return "unknown_os";
  auto second = osVersion.find('.', point + 1);
  std::string tag = "osx_" + osVersion.substr(0, second);
  // Only an option the field offers is accepted by the help desk.
  return hasOptionValue(options, tag) ? tag : "unknown_os";
}

}  // namespace support::ZendeskTexts
