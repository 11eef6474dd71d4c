#include "support/sound_server.hpp"
#include "support/time_limits.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "engine/renderer.hpp"

namespace quibbet::test {

namespace {

// Added to PipeWire's shipped configuration (drop-ins under XDG_CONFIG_HOME
// add to it; PIPEWIRE_CONFIG_DIR would replace it): the graph at the
// render's rate, since a resampled stream is not the render's bytes; and a
// session manager that looks for no card, camera or Bluetooth device (only
// the null sink plays) and asks no portal, so that it runs without D-Bus.
// Its 60- files come before 90-enable-all, which starts what is enabled.
constexpr const char* kPipeWireConfig[][2] = {
    {"pipewire/pipewire.conf.d/quibbet.conf",
     "context.properties = { default.clock.rate = 44100 }\n"},
    {"wireplumber/main.lua.d/60-quibbet.lua",
     "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
     "libcamera_monitor.enabled = false\n"
     "default_access.properties[\"enable-flatpak-portal\"] = false\n"},
    {"wireplumber/bluetooth.lua.d/60-quibbet.lua", "bluez_monitor.enabled = false\n"},
};

}  // namespace

PrivateSoundServer::PrivateSoundServer(ServerKind kind, const std::function<void()>& in_child)
    : kind_(kind), in_child_(in_child) {
  // Nothing of the user's session: no D-Bus (a bus that is not there fails
  // at once, where none named would be started), and the runtime folder a
  // PipeWire client would look in first unset.
  client_env_ = {{"HOME", dir_.path()},
                 {"XDG_RUNTIME_DIR", dir_.path()},
                 {"XDG_CONFIG_HOME", dir_ / "config"},
                 {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_ / "no-bus"},
                 {"PIPEWIRE_RUNTIME_DIR", ""},
                 {"PIPEWIRE_REMOTE", ""},
                 {"PULSE_RUNTIME_PATH", ""},
                 {"PULSE_SERVER", address()}};
  if (kind_ != ServerKind::PipeWire) return;
  for (const auto& [name, text] : kPipeWireConfig) {
    const std::filesystem::path path = dir_.path() / "config" / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path, text);
  }
}

PrivateSoundServer::~PrivateSoundServer() {
  StopCapture();
  StopServer();
}

std::string PrivateSoundServer::address() const {
  return "unix:" + dir_ / (kind_ == ServerKind::PipeWire ? "pulse/native" : "native");
}

void PrivateSoundServer::StopServer() {
  for (auto it = servers_.rbegin(); it != servers_.rend(); ++it) (*it)->Stop();
}

std::string PrivateSoundServer::Start() {
  Env server_env = client_env_;
  server_env["PULSE_SERVER"] = "";
  const int log_fd = ::open((dir_ / "server.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const auto to_log = OutputTo(log_fd, log_fd);
  const auto launch = [&](const std::vector<std::string>& argv) {
    servers_.push_back(std::make_unique<Child>(argv, server_env, [&] {
      to_log();
      if (in_child_) in_child_();
    }));
  };
  const auto down = [&] {
    for (const auto& server : servers_)
      if (server->Poll() >= 0) return true;
    return false;
  };
  const auto failed = [&](const std::string& what) {
    return std::string(NameOf(kind_)) + ": " + what + ":\n" + ReadFile(dir_ / "server.log");
  };
  const auto pactl = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunToEnd(argv, client_env_, in_child_);
  };

  if (kind_ == ServerKind::PulseAudio) {
    // norewinds: otherwise the monitor loses the first frames of a stream.
    launch({"pulseaudio", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "-n",
            "--load=module-native-protocol-unix socket=" + dir_ / "native" + " auth-anonymous=1",
            "--load=module-null-sink sink_name=ci rate=44100 format=s16le channels=2 "
            "norewinds=1"});
  } else {
    launch({"pipewire"});
    // The other two connect to it as they start.
    WaitUntil([&] { return down() || std::filesystem::exists(dir_ / "pipewire-0"); }, 10000);
    launch({"wireplumber"});
    launch({"pipewire-pulse"});
  }
  ::close(log_fd);
  if (!WaitUntil([&] { return down() || pactl({"info"}).status == 0; }, 10000, 50) || down())
    return failed("the server did not start");
  if (kind_ == ServerKind::PipeWire) {
    if (pactl({"load-module", "module-null-sink", "sink_name=ci", "rate=44100", "format=s16le",
               "channels=2"})
            .status != 0)
      return failed("no null sink");
    // The session manager takes it as the default once it has seen it.
    if (!WaitUntil([&] { return down() || pactl({"get-default-sink"}).out == "ci\n"; }, 10000,
                   50) ||
        down())
      return failed("the null sink did not become the default");
  }
  // Anything below 100 % would scale the samples.
  if (pactl({"set-sink-volume", "ci", "100%"}).status != 0)
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
