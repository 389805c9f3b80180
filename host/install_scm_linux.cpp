// The service manager on Linux: the systemd unit folder. Opening needs the
// folder writable; a registration is VantrelSrv.service there, enabled by
// its link in multi-user.target.wants/.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "host/install_scm.h"
#include "platform/errno_code_linux.h"
#include "platform/fd_io_linux.h"
#include "platform/exception.h"
#include "platform/spawn_linux.h"
#include "platform/unique_fd.h"
#include "settings/settings_file_path_linux.h"

namespace vantrel {

namespace {

constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kServiceDoesNotExist = 1060;
constexpr std::uint32_t kServiceExists = 1073;
constexpr char kDefaultUnitDir[] = "/etc/systemd/system";
constexpr char kWantsDir[] = "multi-user.target.wants";
constexpr char kStateFolder[] = "/var/lib/vantrel";

// The failure of a file operation on the unit folder in the code a Windows
// file call gives (a folder gone on the way: 3, the path not found);
// anything without a Windows name counts as access denied.
[[noreturn]] void RaiseErrno() { RaiseOsFailure(WindowsCodeOfErrno(errno, kAccessDenied)); }

// Tells a running systemd to read its unit folder again; not after a change
// in a folder that VANTREL_UNIT_DIR names, which systemd does not read.
void ReloadSystemd(bool own_folder) {
  struct stat st {};
  if (own_folder || ::stat("/run/systemd/system", &st) != 0) return;
  SpawnOptions options;
  options.program = "systemctl";
  options.search_path = true;
  options.arguments = {"systemctl", "daemon-reload"};
  options.environment = EnvironmentWithout({});
  options.quiet = true;
  const pid_t pid = SpawnProgram(options);
  if (pid > 0) WaitForProgram(pid);
}

// A path as one word of a unit line, quoted when quoted is set or it holds
// a blank. systemd reads C escapes and expands "%" specifiers in such a
// word, so a path holding them would name another file; those characters
// are escaped. ("$" stays: systemd expands variables only in arguments.)
std::string UnitPathWord(const std::string& path, bool quoted) {
  std::string word;
  for (char c : path) {
    switch (c) {
      case '\\': word += "\\\\"; break;
      case '"': word += "\\\""; break;
      case '\n': word += "\\n"; break;
      case '%': word += "%%"; break;
      default: word += c;
    }
  }
  quoted = quoted || path.find_first_of(" \t") != std::string::npos;
  return quoted ? '"' + word + '"' : word;
}

// The executable (quoted when it holds a blank) as the command of ExecStart=.
std::string ExecStartCommand(const String& binary_path) {
  std::string path = ToUtf8(binary_path);
  const bool quoted = path.size() >= 2 && path.front() == '"' && path.back() == '"';
  if (quoted) path = path.substr(1, path.size() - 2);
  return UnitPathWord(path, quoted);
}

// A crash brings the service back after a pause; a service that keeps
// failing (started five times within ten minutes) is left failed rather
// than started for ever, so it cannot post the same notice again and again.
constexpr char kStartLimit[] = "StartLimitIntervalSec=10min\nStartLimitBurst=5\n";
constexpr char kRestart[] = "Restart=on-failure\nRestartSec=10s\n";

// The sandbox. The service is root without any capability: enough to read
// the journal files and its own settings (both root's), and nothing more.
// It writes only its state folder (and where its settings link leads),
// reaches the network through IPv4, IPv6 and local sockets (the journal and
// the notify socket), and may run its own executable for each HTTP attempt.
constexpr char kSandbox[] =
    "# A sandbox: vantrel(8) says what each line keeps out and how a drop-in\n"
    "# (systemctl edit VantrelSrv) loosens one.\n"
    "CapabilityBoundingSet=\n"
    "NoNewPrivileges=yes\n"
    "ProtectSystem=strict\n"
    "StateDirectory=vantrel\n"
    "StateDirectoryMode=0700\n"
    "ProtectHome=yes\n"
    "PrivateTmp=yes\n"
    "PrivateDevices=yes\n"
    "PrivateUsers=yes\n"
    "PrivateMounts=yes\n"
    "ProtectHostname=yes\n"
    "ProtectClock=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectProc=invisible\n"
    "ProcSubset=pid\n"
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service\n"
    "SystemCallFilter=~@privileged @resources\n"
    "SystemCallErrorNumber=EPERM\n"
    "UMask=0077\n"
    "RemoveIPC=yes\n";

// The settings file may be a link to another folder (under /etc, say),
// which the read-only system would keep the service from writing. When the
// settings this install stored lie outside the state folder, the unit lets
// the service write the folder where they lie ("-": a folder gone later
// does not keep the service from starting).
std::string SettingsFolderLine() {
  std::string file;
  if (ResolveLinks(SettingsPath(), file) != 0) return {};
  std::string folder = FolderOf(file);
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    folder = real;
    std::free(real);
  }
  if (folder == kStateFolder || folder.starts_with(std::string(kStateFolder) + "/")) return {};
  return "ReadWritePaths=" + UnitPathWord("-" + folder, false) + "\n";
}

std::string UnitText(const ServiceRegistration& registration) {
  return "[Unit]\nDescription=" + ToUtf8(registration.display_name) + "\n" + kStartLimit +
         "\n[Service]\nType=notify\nExecStart=" + ExecStartCommand(registration.binary_path) + "\n" + kRestart +
         kSandbox + SettingsFolderLine() + "\n[Install]\nWantedBy=multi-user.target\n";
}

class UnitService : public ScmService {
 public:
  UnitService(std::string unit, std::string link, bool own_folder)
      : unit_(std::move(unit)), link_(std::move(link)), own_folder_(own_folder) {}
  void Delete() override {
    if (::unlink(link_.c_str()) != 0 && errno != ENOENT) RaiseErrno();
    if (::unlink(unit_.c_str()) != 0) {
      if (errno == ENOENT) RaiseOsFailure(kServiceDoesNotExist);
      RaiseErrno();
    }
    ReloadSystemd(own_folder_);
  }

 private:
  std::string unit_;
  std::string link_;
  bool own_folder_;
};

class UnitFolder : public ScmPort {
 public:
  UnitFolder(std::string dir, bool own) : dir_(std::move(dir)), own_(own) {}

  std::unique_ptr<ScmService> Create(const ServiceRegistration& registration) override {
    const std::string file = ToUtf8(registration.name) + ".service";
    const std::string unit = dir_ + "/" + file;
    struct stat st {};
    if (::lstat(unit.c_str(), &st) == 0) RaiseOsFailure(kServiceExists);
    // Written whole beside its place, then linked in without replacing.
    std::string temp = dir_ + "/." + file + ".XXXXXX";
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd) RaiseErrno();
    const std::string text = UnitText(registration);
    int error = ::fchmod(fd.get(), 0644) == 0 ? WriteAll(fd.get(), text) : errno;
    if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
    bool ok = error == 0;
    if (ok && ::link(temp.c_str(), unit.c_str()) != 0) {
      ok = false;
      error = errno;
    }
    ::unlink(temp.c_str());
    if (!ok) {
      if (error == EEXIST) RaiseOsFailure(kServiceExists);
      errno = error;
      RaiseErrno();
    }
    const std::string wants = dir_ + "/" + kWantsDir;
    const std::string link = wants + "/" + file;
    auto service = std::make_unique<UnitService>(unit, link, own_);
    if ((::mkdir(wants.c_str(), 0755) != 0 && errno != EEXIST) ||
        (::symlink(unit.c_str(), link.c_str()) != 0 && errno != EEXIST)) {
      error = errno;
      ::unlink(unit.c_str());
      errno = error;
      RaiseErrno();
    }
    ReloadSystemd(own_);
    return service;
  }

  std::unique_ptr<ScmService> Open(const String& name) override {
    const std::string file = ToUtf8(name) + ".service";
    const std::string unit = dir_ + "/" + file;
    struct stat st {};
    if (::lstat(unit.c_str(), &st) != 0) RaiseOsFailure(kServiceDoesNotExist);
    return std::make_unique<UnitService>(unit, dir_ + "/" + kWantsDir + "/" + file, own_);
  }

 private:
  std::string dir_;
  bool own_;
};

}  // namespace

std::unique_ptr<ScmPort> OpenPlatformScm() {
  const char* env = std::getenv("VANTREL_UNIT_DIR");
  const bool own = env && *env;
  std::string dir = own ? env : kDefaultUnitDir;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(dir.c_str(), W_OK | X_OK) != 0) {
    RaiseOsFailure(kAccessDenied);
  }
  return std::make_unique<UnitFolder>(std::move(dir), own);
}

String ScmErrorText(std::uint32_t code) {
  switch (code) {
    case 3: return u"The system cannot find the path specified";
    case 5: return u"Access is denied";
    case 112: return u"There is not enough space on the disk";
    case 1060: return u"The specified service does not exist as an installed service";
    case 1072: return u"The specified service has been marked for deletion";
    case 1073: return u"The specified service already exists";
    default: return u"Unknown error " + IntToStr(code);
  }
}

}  // namespace vantrel
