#include "media/validation/CVNMediaInfoValidator.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace media {

namespace {

using NewFunction = void* (*)();
using DeleteFunction = void (*)(void*);
using OpenFunction = std::size_t (*)(void*, const char*);
using OptionFunction = const char* (*)(void*, const char*, const char*);
// Handle, stream kind (0 general), stream number, parameter, info kind (1 text), search kind (0 name).
using GetFunction = const char* (*)(void*, int, std::size_t, const char*, int, int);
using CloseFunction = void (*)(void*);

constexpr int kStreamGeneral = 0;
constexpr int kInfoText = 1;
constexpr int kInfoName = 0;
constexpr const char* kLibraryName = "libmediainfo.so.0";
constexpr const char* kPlayablePrefix = "Tessarine";

template <typename F>
F entry(const MediaInfoLibrary& library, const char* name) {
  return reinterpret_cast<F>(library.function(name));
}

}  // namespace

const std::vector<const char*>& MediaInfoLibrary::functionNames() {
  static const std::vector<const char*> names{
      "MediaInfoA_New", "MediaInfoListA_New", "MediaInfoA_Delete", "MediaInfoListA_Delete", "MediaInfoA_Open",
      "MediaInfoListA_Open", "MediaInfoA_Open_Buffer_Init", "MediaInfoA_Open_Buffer_Continue",
      "MediaInfoA_Open_Buffer_Continue_GoTo_Get", "MediaInfoA_Open_Buffer_Finalize", "MediaInfoA_Open_NextPacket",
      "MediaInfoA_Close", "MediaInfoListA_Close", "MediaInfoA_Inform", "MediaInfoListA_Inform", "MediaInfoA_GetI",
      "MediaInfoListA_GetI", "MediaInfoA_Get", "MediaInfoListA_Get", "MediaInfoA_Output_Buffer_Get",
      "MediaInfoA_Output_Buffer_GetI", "MediaInfoA_Option", "MediaInfoListA_Option", "MediaInfoA_State_Get",
      "MediaInfoListA_State_Get", "MediaInfoA_Count_Get", "MediaInfoListA_Count_Get",
      "MediaInfoListA_Count_Get_Files"};
  return names;
}

std::vector<std::string> MediaInfoLibrary::defaultCandidates() {
  std::vector<std::string> candidates;
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) candidates.push_back((executable.parent_path() / kLibraryName).string());
  // A bare name without a slash is searched in the system's library folders only.
  candidates.emplace_back(kLibraryName);
  return candidates;
}

MediaInfoLibrary::MediaInfoLibrary(const std::vector<std::string>& candidates) {
  for (const auto& candidate : candidates) {
    if ((handle_ = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL))) break;
  }
  if (!handle_) return;
  for (const char* name : functionNames()) {
    void* function = ::dlsym(handle_, name);
    if (!function) {
      ::dlclose(handle_);
      handle_ = nullptr;
      functions_.clear();
      return;
    }
    functions_.push_back(function);
  }
}

MediaInfoLibrary::~MediaInfoLibrary() {
  if (handle_) ::dlclose(handle_);
}

MediaInfoLibrary& MediaInfoLibrary::shared() {
  static MediaInfoLibrary* library = new MediaInfoLibrary(defaultCandidates());  // lives for the process
  return *library;
}

void* MediaInfoLibrary::function(const char* name) const {
  const auto& names = functionNames();
  for (std::size_t i = 0; i < functions_.size(); ++i) {
    if (std::string_view(names[i]) == name) return functions_[i];
  }
  return nullptr;
}

std::unique_ptr<CVNMediaInfoValidator> CVNMediaInfoValidator::create(MediaInfoLibrary& library) {
  if (!library.isAvailable()) return nullptr;
  void* handle = entry<NewFunction>(library, "MediaInfoA_New")();
  if (!handle) return nullptr;
  return std::unique_ptr<CVNMediaInfoValidator>(new CVNMediaInfoValidator(library, handle));
}

CVNMediaInfoValidator::~CVNMediaInfoValidator() { entry<DeleteFunction>(library_, "MediaInfoA_Delete")(mediaInfoHandle_); }

std::string CVNMediaInfoValidator::get(const char* parameter) {
  const char* value = entry<GetFunction>(library_, "MediaInfoA_Get")(mediaInfoHandle_, kStreamGeneral, 0, parameter,
                                                                      kInfoText, kInfoName);
  return value ? value : "";
}

bool CVNMediaInfoValidator::validateFileAtURL(const MediaURL& url) {
  if (url.isEmpty() || !url.isFileURL() || url.path().empty()) return true;
  const auto close = [this](bool answer) {
    entry<CloseFunction>(library_, "MediaInfoA_Close")(mediaInfoHandle_);
    return answer;
  };
  if (entry<OpenFunction>(library_, "MediaInfoA_Open")(mediaInfoHandle_, url.path().c_str()) != 1) return close(true);
  const auto option = entry<OptionFunction>(library_, "MediaInfoA_Option");
  option(mediaInfoHandle_, "ParseSpeed", "0");
  option(mediaInfoHandle_, "ReadByHuman", "0");
  if (get("IsTruncated") != "Yes") return close(true);
  const std::string format = get("Format");
  std::string application;
  if (format == "MPEG-4" || format == "QuickTime") {
    application = get("com.apple.quicktime.software");
  } else if (format == "MXF") {
    application = get("Encoded_Application_Name");
  } else {
    return close(false);
  }
  return close(application.starts_with(kPlayablePrefix));
}

}  // namespace media
