#include "tests/support/ChildServer.h"

#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

} // namespace

uint16_t PickFreeLoopbackPort(const char* who) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    throw std::runtime_error(std::string(who) + ": no socket for picking a port");
  }
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  if (!ok) {
    throw std::runtime_error(std::string(who) + ": cannot pick a loopback port");
  }
  return ntohs(address.sin_port);
}

bool AcceptsOnLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    return false;
  }
  const sockaddr_in address = Loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

ChildServer::ChildServer(const std::string& program, const std::vector<std::string>& argv) {
  // Everything the child needs is made before fork: after it only exec-safe calls run.
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork failed for " + program);
  }
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
      ::_exit(127);
    }
    ::execv(program.c_str(), args.data());
    ::_exit(127);
  }
}

ChildServer::~ChildServer() {
  Stop();
}

bool ChildServer::Exited() {
  if (pid_ <= 0) {
    return true;
  }
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_ || (done < 0 && errno == ECHILD)) {
    pid_ = -1;
    return true;
  }
  return false;
}

bool ChildServer::WaitUntilAccepting(uint16_t port, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (AcceptsOnLoopback(port)) {
      return true;
    }
    if (Exited()) {
      return false;
    }
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

void ChildServer::Stop() noexcept {
  if (pid_ <= 0) {
    return;
  }
  ::kill(pid_, SIGTERM);
  for (const int signal : {0, SIGKILL}) {
    if (signal) {
      ::kill(pid_, signal);
    }
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
      if (Exited()) {
        return;
      }
      std::this_thread::sleep_for(5ms);
    }
  }
}

void OpenToEveryone(const QString& dir) {
  QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                 QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                 QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                 QFileDevice::ExeOther);
}

bool AwaitAccepting(std::unique_ptr<ChildServer>& child, uint16_t port, std::chrono::seconds limit,
                    const std::string& who, const std::function<QString()>& log) {
  if (child->WaitUntilAccepting(port, limit)) {
    return true;
  }
  const bool exited = child->Exited();
  child.reset();
  if (exited && log().contains(QStringLiteral("Address already in use"))) {
    return false;
  }
  throw std::runtime_error(
      who +
      (exited ? " exited at start"
              : " did not accept within " + std::to_string(limit.count()) + " s") +
      ":\n" + log().toStdString());
}

} // namespace testsupport
