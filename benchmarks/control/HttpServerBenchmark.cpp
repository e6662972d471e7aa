// The HTTP server against lighttpd, in the same run: ab (one request per
// connection, 8 at a time) fetching 1 KiB from a CVNWebServer route and the
// same 1 KiB file from lighttpd on loopback; and TLS handshakes per second
// with openssl s_time -new against the server and against openssl s_server.
// The counter "requests_per_second" (or "handshakes_per_second") compares.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "benchmarks/BenchmarkSupport.h"
#include "control/http/CVNWebServer.h"
#include "tests/support/ChildProcess.h"

namespace {

using control::CVNWebConnection;
using control::CVNWebServer;
using testing_support::ChildProcess;

constexpr int kRequests = 3000;
constexpr const char* kConcurrency = "8";
const std::string kKilobyte(1024, 'k');

class KilobyteConnection : public CVNWebConnection {
 public:
  bool respondsToMethod(const std::string& method, const std::string& path) override {
    return method == "GET" && path == "kb";
  }
  std::optional<std::string> responseForMethod(const std::string&, const std::string&) override { return kKilobyte; }
};

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return up;
}

bool waitUntilAnswering(int port) {
  for (int i = 0; i < 200; ++i) {
    if (answers(port)) return true;
    ::usleep(25000);  // a server process starting, not this process's work
  }
  return false;
}

std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// The figure after `label` in a tool's report.
std::optional<double> figureAfter(const std::string& text, const std::string& label) {
  const auto at = text.find(label);
  if (at == std::string::npos) return std::nullopt;
  return std::strtod(text.c_str() + at + label.size(), nullptr);
}

void measureRequests(benchmark::State& state, const std::string& url) {
  std::optional<double> rate;
  for (auto _ : state) {
    const std::string report = run("ab -q -n " + std::to_string(kRequests) + " -c " + kConcurrency + " " + url);
    rate = figureAfter(report, "Requests per second:");
    if (!rate || report.find("Non-2xx responses") != std::string::npos) state.SkipWithError(report.c_str());
  }
  if (rate) state.counters["requests_per_second"] = *rate;
}

void measureHandshakes(benchmark::State& state, int port) {
  std::optional<double> rate;
  for (auto _ : state) {
    const std::string report =
        run("openssl s_time -connect 127.0.0.1:" + std::to_string(port) + " -new -time 3");
    // "N connections in T real seconds"
    const auto at = report.find(" connections in ");
    if (at == std::string::npos) {
      state.SkipWithError(report.c_str());
      break;
    }
    const double count = std::strtod(report.c_str() + report.rfind('\n', at) + 1, nullptr);
    const double seconds = std::strtod(report.c_str() + at + 16, nullptr);
    if (seconds > 0) rate = count / seconds;
  }
  if (rate) state.counters["handshakes_per_second"] = *rate;
}

// A certificate and key made by openssl for this run.
struct Identity {
  bench::TemporaryFolder folder{"http-bench"};
  bool make() {
    const std::string dir = folder.path().string();
    run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=localhost -keyout " +
        dir + "/key.pem -out " + dir + "/cert.pem");
    std::filesystem::create_directory(folder.path() / "resources");
    std::error_code error;
    std::filesystem::copy_file(folder.path() / "cert.pem", folder.path() / "resources" / "SSLCertificate.cer", error);
    ::chmod((folder.path() / "key.pem").c_str(), 0600);
    return !error;
  }
};

std::shared_ptr<CVNWebServer> startServer(int port, Identity* identity) {
  auto server = CVNWebServer::create(port);
  server->setConnectionClass<KilobyteConnection>();
  if (identity) {
    server->setIsSSL(true);
    server->setBundle(std::make_shared<platform::Bundle>(identity->folder.path() / "resources"));
    server->setPrivateKeyPath(identity->folder.path() / "key.pem");
  }
  return server->start() ? server : nullptr;
}

void BM_Requests_CVNWebServer(benchmark::State& state) {
  const int port = freePort();
  auto server = startServer(port, nullptr);
  if (!server) return state.SkipWithError("server did not start");
  measureRequests(state, "http://127.0.0.1:" + std::to_string(port) + "/kb");
  server->stop();
}

void BM_Requests_Lighttpd(benchmark::State& state) {
  bench::TemporaryFolder folder("lighttpd-bench");
  const int port = freePort();
  std::ofstream(folder.path() / "kb") << kKilobyte;
  std::ofstream(folder.path() / "lighttpd.conf") << "server.document-root = \"" << folder.path().string()
                                                 << "\"\nserver.bind = \"127.0.0.1\"\nserver.port = " << port << "\n";
  std::string error;
  auto lighttpd = ChildProcess::start({"/usr/sbin/lighttpd", "-D", "-f", (folder.path() / "lighttpd.conf").string()}, {}, &error);
  if (!lighttpd || !waitUntilAnswering(port)) return state.SkipWithError("lighttpd did not start");
  measureRequests(state, "http://127.0.0.1:" + std::to_string(port) + "/kb");
}

void BM_Handshakes_CVNWebServer(benchmark::State& state) {
  Identity identity;
  if (!identity.make()) return state.SkipWithError("no certificate");
  const int port = freePort();
  auto server = startServer(port, &identity);
  if (!server) return state.SkipWithError("server did not start");
  measureHandshakes(state, port);
  server->stop();
}

void BM_Handshakes_OpensslServer(benchmark::State& state) {
  Identity identity;
  if (!identity.make()) return state.SkipWithError("no certificate");
  const int port = freePort();
  const std::string dir = identity.folder.path().string();
  std::string error;
  auto server = ChildProcess::start({"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port),
                                     "-cert", dir + "/cert.pem", "-key", dir + "/key.pem", "-www", "-quiet"},
                                    {}, &error);
  if (!server || !waitUntilAnswering(port)) return state.SkipWithError("openssl s_server did not start");
  measureHandshakes(state, port);
}

BENCHMARK(BM_Requests_CVNWebServer)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Requests_Lighttpd)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Handshakes_CVNWebServer)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Handshakes_OpensslServer)->Iterations(1)->UseRealTime();

}  // namespace
