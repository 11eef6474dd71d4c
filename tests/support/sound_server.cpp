#include "support/sound_server.hpp"
#include "support/time_limits.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "engine/renderer.hpp"

namespace quibbet::test {

PrivateSoundServer::PrivateSoundServer(const std::function<void()>& in_child)
    : in_child_(in_child) {
  const Env server_env = {{"HOME", dir_.path()},
                          {"XDG_RUNTIME_DIR", dir_.path()},
                          {"XDG_CONFIG_HOME", dir_ / "config"},
                          {"PULSE_SERVER", ""}};
  const int log_fd =
      ::open((dir_ / "pulseaudio.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const auto to_log = OutputTo(log_fd, log_fd);
  // norewinds: otherwise the monitor loses the first frames of a stream.
  server_ = std::make_unique<Child>(
      std::vector<std::string>{
          "pulseaudio", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "-n",
          "--load=module-native-protocol-unix socket=" + dir_ / "native" + " auth-anonymous=1",
          "--load=module-null-sink sink_name=ci rate=44100 format=s16le channels=2 norewinds=1"},
      server_env, [&] {
        to_log();
        if (in_child_) in_child_();
      });
  ::close(log_fd);
  client_env_ = server_env;
  client_env_["PULSE_SERVER"] = address();
}

PrivateSoundServer::~PrivateSoundServer() {
  StopCapture();
  server_.reset();
}

std::string PrivateSoundServer::Start() {
  const bool up = WaitUntil(
      [&] {
        return server_->Poll() >= 0 ||
               RunToEnd({"pactl", "info"}, client_env_, in_child_).status == 0;
      },
      10000, 50);
  if (!up || server_->Poll() >= 0)
    return "pulseaudio did not start:\n" + ReadFile(dir_ / "pulseaudio.log");
  // Anything below 100 % would scale the samples.
  if (RunToEnd({"pactl", "set-sink-volume", "ci", "100%"}, client_env_, in_child_).status != 0)
    return "pactl could not set the sink's volume";
  return "";
}

std::string PrivateSoundServer::StartCapture(int latency_ms) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return "no pipe for the capture";
  recorder_ = std::make_unique<Child>(
      std::vector<std::string>{"parec", "-d", "ci.monitor", "--raw", "--format=s16le",
                               "--rate=44100", "--channels=2",
                               "--latency-msec=" + std::to_string(latency_ms)},
      client_env_, [out = fds[1]] { ::dup2(out, 1); });
  ::close(fds[1]);
  reader_ = std::thread([this, fd = fds[0]] {
    char chunk[65536];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
      const std::int64_t at = NowNs();
      std::lock_guard lock(mutex_);
      capture_.bytes.append(chunk, static_cast<std::size_t>(n));
      capture_.reads.emplace_back(capture_.bytes.size(), at);
    }
    ::close(fd);
  });
  // The monitor streams silence as soon as the recording runs.
  if (!WaitUntil([&] { return Captured() >= 4410 * kBytesPerFrame; }, ScaledMs(5000)))
    return "parec delivers nothing";
  return "";
}

void PrivateSoundServer::StopCapture() {
  recorder_.reset();
  if (reader_.joinable()) reader_.join();
}

std::size_t PrivateSoundServer::Captured() {
  std::lock_guard lock(mutex_);
  return capture_.bytes.size();
}

Capture PrivateSoundServer::Snapshot() {
  std::lock_guard lock(mutex_);
  return capture_;
}

}  // namespace quibbet::test
