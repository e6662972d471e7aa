#include "engine/vudododuva/DistributedNotificationCenter.h"

#include <gio/gio.h>

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "engine/vudododuva/VudodoDuvaProtocol.h"
#include "platform/PropertyList.h"
#include "platform/Thread.h"

namespace engine::vudododuva {
namespace {

inline constexpr const char* kErrorDomain = "engine.vudododuva.notifications";
enum class BusError { NoBus = 1, PostFailed = 2, BadUserInfo = 3 };

std::string memberOf(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

platform::Error gError(BusError code, const std::string& what, GError* error) {
  platform::Error result(kErrorDomain, code, what + ": " + (error ? error->message : "unknown"));
  if (error) g_error_free(error);
  return result;
}

}  // namespace

struct DistributedNotificationCenter::Impl {
  struct Entry {
    std::string member;
    std::shared_ptr<Observer> observer;
  };

  GDBusConnection* connection = nullptr;
  GMainContext* context = nullptr;
  guint subscription = 0;
  std::atomic<bool> stopping{false};
  std::unique_ptr<platform::Thread> thread;

  std::mutex mutex;
  std::uint64_t nextToken = 1;               // guarded by mutex
  std::map<std::uint64_t, Entry> observers;  // guarded by mutex

  ~Impl() {
    stopping = true;
    if (context) g_main_context_wakeup(context);
    thread.reset();
    if (subscription) g_dbus_connection_signal_unsubscribe(connection, subscription);
    if (connection) {
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
    }
    if (context) g_main_context_unref(context);
  }

  void run() {
    g_main_context_push_thread_default(context);
    while (!stopping) g_main_context_iteration(context, TRUE);
    g_main_context_pop_thread_default(context);
  }

  void deliver(const char* member, GVariant* parameters) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)"))) return;
    const gchar* object = nullptr;
    const gchar* userInfoText = nullptr;
    g_variant_get(parameters, "(&s&s)", &object, &userInfoText);
    std::optional<platform::Dictionary> userInfo;
    const std::string_view text(userInfoText);
    if (!text.empty()) {
      if (text.size() > kMaxUserInfoSize) return;
      auto value = platform::readPropertyList(text);
      if (!value.ok() || !value->dictionary()) return;
      userInfo = *value->dictionary();
    }
    std::vector<std::shared_ptr<Observer>> matching;
    {
      std::lock_guard lock(mutex);
      for (const auto& [token, entry] : observers)
        if (entry.member == member) matching.push_back(entry.observer);
    }
    const std::string objectName(object);
    for (const auto& observer : matching) (*observer)(objectName, userInfo ? &*userInfo : nullptr);
  }

  static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member,
                       GVariant* parameters, gpointer self) {
    static_cast<Impl*>(self)->deliver(member, parameters);
  }
};

DistributedNotificationCenter::DistributedNotificationCenter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
DistributedNotificationCenter::~DistributedNotificationCenter() = default;

platform::Result<std::unique_ptr<DistributedNotificationCenter>> DistributedNotificationCenter::connect() {
  GError* error = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!address) return gError(BusError::NoBus, "No session bus", error);
  auto impl = std::make_unique<Impl>();
  impl->connection = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  g_free(address);
  if (!impl->connection) return gError(BusError::NoBus, "Cannot connect to the session bus", error);
  g_dbus_connection_set_exit_on_close(impl->connection, FALSE);

  // Signals are dispatched in the context that is thread-default when subscribing.
  impl->context = g_main_context_new();
  g_main_context_push_thread_default(impl->context);
  impl->subscription = g_dbus_connection_signal_subscribe(impl->connection, nullptr, kBusInterface, nullptr,
                                                          kBusObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                          &Impl::onSignal, impl.get(), nullptr);
  g_main_context_pop_thread_default(impl->context);
  Impl* raw = impl.get();
  impl->thread = std::make_unique<platform::Thread>("com.dirarovazovo.VudodoDuva.bus",
                                                    [raw](std::stop_token) { raw->run(); });
  return std::unique_ptr<DistributedNotificationCenter>(new DistributedNotificationCenter(std::move(impl)));
}

platform::Status DistributedNotificationCenter::post(const std::string& name, const std::string& object,
                                                     const platform::Dictionary* userInfo, bool deliverImmediately) {
  std::string userInfoText;
  if (userInfo) {
    auto written = platform::writePropertyList(platform::Value(*userInfo));
    if (!written.ok()) return written.error();
    userInfoText = std::move(*written);
  }
  const std::string safeObject = platform::propertyListSafeText(object);  // the bus carries only valid UTF-8
  GError* error = nullptr;
  if (!g_dbus_connection_emit_signal(impl_->connection, nullptr, kBusObjectPath, kBusInterface,
                                     memberOf(name).c_str(),
                                     g_variant_new("(ss)", safeObject.c_str(), userInfoText.c_str()), &error))
    return gError(BusError::PostFailed, "Cannot post " + name, error);
  if (deliverImmediately) {
    // Waits only for the write to the local bus socket, never for a reply.
    if (!g_dbus_connection_flush_sync(impl_->connection, nullptr, &error))
      return gError(BusError::PostFailed, "Cannot deliver " + name, error);
  }
  return platform::Status::success();
}

std::uint64_t DistributedNotificationCenter::addObserver(const std::string& name, Observer observer) {
  std::lock_guard lock(impl_->mutex);
  const std::uint64_t token = impl_->nextToken++;
  impl_->observers[token] = {memberOf(name), std::make_shared<Observer>(std::move(observer))};
  return token;
}

void DistributedNotificationCenter::removeObserver(std::uint64_t token) {
  std::lock_guard lock(impl_->mutex);
  impl_->observers.erase(token);
}

void DistributedNotificationCenter::removeAllObservers() {
  std::lock_guard lock(impl_->mutex);
  impl_->observers.clear();
}

}  // namespace engine::vudododuva
