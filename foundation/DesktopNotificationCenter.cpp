#include "foundation/DesktopNotificationCenter.h"

#include <gio/gio.h>

#include <cstdlib>
#include <mutex>

#include "platform/DispatchQueue.h"

namespace foundation {
namespace {

constexpr const char* kQueueLabel = "com.dirarovazovo.userNotifications";
// Notifications beyond this many waiting are refused by the queue (and reported).
constexpr std::size_t kQueueCapacity = 64;
constexpr const char* kServiceName = "org.freedesktop.Notifications";
constexpr const char* kObjectPath = "/org/freedesktop/Notifications";
constexpr const char* kInterfaceName = "org.freedesktop.Notifications";

using Cancellable = std::shared_ptr<GCancellable>;

Cancellable newCancellable() { return Cancellable(g_cancellable_new(), [](GCancellable* c) { g_object_unref(c); }); }

// Bus strings must be valid UTF-8; log text need not be.
std::string validUtf8(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

}  // namespace

struct DesktopNotificationCenter::Impl {
  explicit Impl(Options options) : options(std::move(options)) {}

  ~Impl() {
    {
      std::lock_guard guard(mutex);
      stopping = true;
      if (operation) g_cancellable_cancel(operation.get());
    }
    queue.reset();
    if (connection) g_object_unref(connection);
  }

  // The cancellable of the operation about to run on the queue; nullptr once stopping.
  Cancellable beginOperation() {
    std::lock_guard guard(mutex);
    if (stopping) return nullptr;
    operation = newCancellable();
    return operation;
  }

  void endOperation() {
    std::lock_guard guard(mutex);
    operation.reset();
  }

  gint timeoutMilliseconds() const { return static_cast<gint>(options.busTimeout.count()); }

  // The session bus connection, made on first need. Without a session bus
  // address there is none: starting a bus on demand is not this centre's job.
  GDBusConnection* busConnection(const Cancellable& cancellable) {
    if (connection && !g_dbus_connection_is_closed(connection)) return connection;
    if (connection) {
      g_object_unref(connection);
      connection = nullptr;
    }
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) return nullptr;

    // Connecting has no time limit of its own (a peer may accept and never
    // answer the handshake), so a timer cancels it.
    platform::TaskHandle watchdog =
        platform::DispatchQueue::global(platform::DispatchQueue::Priority::Background)
            .after(options.busTimeout, [cancellable] { g_cancellable_cancel(cancellable.get()); });
    GError* error = nullptr;
    connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable.get(), &error);
    watchdog.cancel();
    if (error) g_error_free(error);
    return connection;
  }

  GVariant* call(const char* method, GVariant* parameters, const GVariantType* replyType) {
    Cancellable cancellable = beginOperation();
    GVariant* reply = nullptr;
    if (cancellable) {
      if (GDBusConnection* bus = busConnection(cancellable)) {
        GError* error = nullptr;
        reply = g_dbus_connection_call_sync(bus, kServiceName, kObjectPath, kInterfaceName, method, parameters,
                                            replyType, G_DBUS_CALL_FLAGS_NONE, timeoutMilliseconds(),
                                            cancellable.get(), &error);
        parameters = nullptr;  // consumed by the call
        if (error) g_error_free(error);
      }
      endOperation();
    }
    if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
    return reply;
  }

  bool serviceAnswers() {
    GVariant* reply = call("GetServerInformation", nullptr, G_VARIANT_TYPE("(ssss)"));
    if (!reply) return false;
    g_variant_unref(reply);
    return true;
  }

  void notify(const UserNotificationRequest& request) {
    GVariant* parameters =
        g_variant_new("(susss@as@a{sv}i)", validUtf8(options.applicationName).c_str(), 0u, "",
                      validUtf8(request.title).c_str(), validUtf8(request.body).c_str(), g_variant_new_strv(nullptr, 0),
                      g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0), -1);
    if (GVariant* reply = call("Notify", parameters, G_VARIANT_TYPE("(u)"))) g_variant_unref(reply);
  }

  const Options options;
  GDBusConnection* connection = nullptr;  // used on the queue only

  std::mutex mutex;
  bool stopping = false;  // guarded by mutex
  Cancellable operation;  // guarded by mutex; what destruction cancels

  // Last: destroyed (and joined) first, while everything its tasks use exists.
  std::unique_ptr<platform::SerialQueue> queue = std::make_unique<platform::SerialQueue>(kQueueLabel, kQueueCapacity);
};

DesktopNotificationCenter::DesktopNotificationCenter(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DesktopNotificationCenter::~DesktopNotificationCenter() = default;

void DesktopNotificationCenter::getNotificationSettings(
    std::function<void(UserNotificationAuthorizationStatus)> completion) {
  Impl* impl = impl_.get();
  auto answer = std::make_shared<std::function<void(UserNotificationAuthorizationStatus)>>(std::move(completion));
  const bool queued = impl->queue->async([impl, answer] {
    (*answer)(impl->serviceAnswers() ? UserNotificationAuthorizationStatus::Authorized
                                     : UserNotificationAuthorizationStatus::Denied);
  });
  // A refused question still gets its answer.
  if (!queued) (*answer)(UserNotificationAuthorizationStatus::Denied);
}

void DesktopNotificationCenter::requestAuthorization(unsigned, std::function<void(bool granted)> completion) {
  Impl* impl = impl_.get();
  auto answer = std::make_shared<std::function<void(bool)>>(std::move(completion));
  if (!impl->queue->async([impl, answer] { (*answer)(impl->serviceAnswers()); })) (*answer)(false);
}

void DesktopNotificationCenter::addNotificationRequest(UserNotificationRequest request) {
  Impl* impl = impl_.get();
  impl->queue->async([impl, request = std::move(request)] { impl->notify(request); });
}

}  // namespace foundation
