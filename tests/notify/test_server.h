// A small HTTP server on 127.0.0.1 (or [::1]) inside the test process (plain
// sockets, winsock on Windows, so it also runs under Wine). It answers the
// requests in order with scripted raw answers (the last one repeats) and
// keeps every request as received. "%PORT%" in an answer becomes the
// server's port. It can also stay silent, before its answer or after it, or
// follow its answer with a body that never ends. A request of a proxy
// client ("CONNECT host:443", "POST http://host/...") is answered the same
// way, so it stands in for a proxy too.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketT = SOCKET;
inline void CloseSocket(SocketT s) { closesocket(s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketT = int;
inline void CloseSocket(SocketT s) { close(s); }
#endif

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::testing {

// A raw answer with Content-Length and Connection: close.
inline std::string Answer(const std::string& status_line, const std::string& headers = "",
                          const std::string& body = "") {
  return status_line + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

struct Received {
  std::string head;  // request line and headers
  std::string body;
  std::string RequestLine() const { return head.substr(0, head.find("\r\n")); }
  // Every value of the named header (name compared without case).
  std::vector<std::string> Header(const std::string& name) const {
    std::vector<std::string> out;
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
      const std::size_t end = head.find("\r\n", pos + 2);
      const std::string line = head.substr(pos + 2, end - pos - 2);
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos && colon == name.size()) {
        bool same = true;
        for (std::size_t i = 0; i < colon; ++i) same = same && std::tolower(line[i]) == std::tolower(name[i]);
        if (same) out.push_back(line.substr(line.find_first_not_of(' ', colon + 1)));
      }
      pos = end;
    }
    return out;
  }
};

// The head of an answer whose body never ends: no Content-Length, and the
// connection closes only when the client closes it.
inline std::string EndlessAnswerHead(const std::string& status_line, const std::string& headers = "") {
  return status_line + "\r\n" + headers + "Connection: close\r\n\r\n";
}

class TestServer {
 public:
  enum class Reply {
    kScripted,    // the answers
    kSilent,      // nothing: the connection stays open without a word
    kEndless,     // the answer, then body bytes until the client goes away
    kThenSilent,  // the answer, then nothing more: the connection stays open
  };
  enum class Family { kIPv4, kIPv6 };

  explicit TestServer(std::vector<std::string> answers, Reply reply = Reply::kScripted, Family family = Family::kIPv4)
      : answers_(std::move(answers)), reply_(reply), family_(family) {
#ifdef _WIN32
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
#endif
    if (family_ == Family::kIPv4) {
      listen_ = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ok_ = bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      socklen_t len = sizeof addr;
      getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
      port_ = ntohs(addr.sin_port);
    } else {
      listen_ = socket(AF_INET6, SOCK_STREAM, 0);
      sockaddr_in6 addr{};
      addr.sin6_family = AF_INET6;
      addr.sin6_addr = in6addr_loopback;
      ok_ = bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      socklen_t len = sizeof addr;
      getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
      port_ = ntohs(addr.sin6_port);
    }
    ok_ = ok_ && listen(listen_, 16) == 0;
    thread_ = std::thread([this] { Run(); });
  }
  ~TestServer() {
    stop_ = true;
    thread_.join();
    CloseSocket(listen_);
  }

  // False when the address could not be bound (a machine without ::1).
  bool Listening() const { return ok_; }
  int Port() const { return port_; }
  std::string Host() const { return family_ == Family::kIPv4 ? "127.0.0.1" : "[::1]"; }
  std::string Url(const std::string& path = "/hook") const {
    return "http://" + Host() + ":" + std::to_string(port_) + path;
  }
  std::vector<Received> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  // A port on which nothing listens.
  static int RefusingPort() {
    TestServer s({});
    return s.Port();
  }

 private:
  static bool Ready(SocketT s, int ms, bool for_write) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, for_write ? nullptr : &set, for_write ? &set : nullptr, nullptr, &tv) > 0;
  }
  static bool Readable(SocketT s, int ms) { return Ready(s, ms, false); }

  // Sends body bytes until the client closes the connection (or the server
  // stops).
  void SendEndlessBody(SocketT c) {
    const std::string chunk(65536, 'x');
    while (!stop_) {
      if (!Ready(c, 50, true)) continue;
#ifdef _WIN32
      const int n = send(c, chunk.data(), static_cast<int>(chunk.size()), 0);
#else
      const int n = static_cast<int>(send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL));
#endif
      if (n <= 0) return;
    }
  }

  void Run() {
    std::size_t index = 0;
    while (!stop_) {
      if (!Readable(listen_, 50)) continue;
      SocketT c = accept(listen_, nullptr, nullptr);
      Received r;
      std::string data;
      char buf[4096];
      std::size_t head_end = std::string::npos, need = 0;
      while (!stop_) {
        if (!Readable(c, 50)) continue;
        const int n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        data.append(buf, n);
        if (head_end == std::string::npos && (head_end = data.find("\r\n\r\n")) != std::string::npos) {
          r.head = data.substr(0, head_end + 2);
          const auto cl = r.Header("Content-Length");
          need = head_end + 4 + (cl.empty() ? 0 : std::stoul(cl[0]));
        }
        if (head_end != std::string::npos && data.size() >= need) break;
      }
      if (head_end != std::string::npos) r.body = data.substr(head_end + 4);
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(r);
      }
      if (reply_ == Reply::kSilent) {
        while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      } else if (!answers_.empty()) {
        std::string a = answers_[std::min(index++, answers_.size() - 1)];
        for (std::size_t p; (p = a.find("%PORT%")) != std::string::npos;) a.replace(p, 6, std::to_string(port_));
        send(c, a.data(), static_cast<int>(a.size()), 0);
        if (reply_ == Reply::kEndless) SendEndlessBody(c);
        if (reply_ == Reply::kThenSilent) {
          while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
#ifdef _WIN32
      shutdown(c, SD_SEND);
#else
      shutdown(c, SHUT_WR);
#endif
      while (Readable(c, 200) && recv(c, buf, sizeof buf, 0) > 0) {
      }
      CloseSocket(c);
    }
  }

  std::vector<std::string> answers_;
  Reply reply_;
  Family family_;
  SocketT listen_;
  bool ok_ = false;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Received> requests_;
  std::thread thread_;
};

}  // namespace vantrel::testing
