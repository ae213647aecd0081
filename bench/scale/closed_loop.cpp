#include "closed_loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "raw_client.h"

namespace scale {

namespace {

double Us(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// The last frame of a reply: the call has ended.
bool EndsCall(char kind) {
  return kind == 'R' || kind == 'F' || kind == 'E';
}

// An error frame, or a reply whose result is not 0.
bool Failed(std::string_view body) {
  return body[0] == 'E' || body.size() < 9 || raw::Get32(body.data() + 5) != 0;
}

// A calls' end that the threads wait for beyond the phase, at most.
constexpr auto kDrainLimit = std::chrono::seconds(10);

Clock::duration Seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace

// ---- tcp --------------------------------------------------------------------

struct TcpClients::Connection {
  int fd = -1;
  std::size_t client = 0;
  std::size_t calls = 0;
  Clock::time_point sent;
  std::string in;
  std::string frame;  // the request being sent
};

TcpClients::TcpClients(int port, int clients, int threads, const Requests& requests)
    : cRequests(requests), iThreads(threads) {
  for (int i = 0; i < clients; ++i) {
    auto c = std::make_unique<Connection>();
    c->fd = raw::Connect(port);
    c->client = static_cast<std::size_t>(i);
    if (c->fd < 0) {
      bConnected = false;
      return;
    }
    int one = 1;
    setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    vConnections.push_back(std::move(c));
  }
}

TcpClients::~TcpClients() {
  for (auto& c : vConnections) close(c->fd);
}

PhaseResult TcpClients::Run(double seconds) {
  const auto start = Clock::now();
  const auto from = start + Seconds(kRampShare * seconds);
  const auto end = start + Seconds(seconds);
  std::vector<PhaseResult> results(static_cast<std::size_t>(iThreads));
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < results.size(); ++t)
    threads.emplace_back([this, t, from, end, &results] { Drive(t, from, end, results[t]); });
  for (auto& th : threads) th.join();
  PhaseResult all;
  all.seconds = (1 - kRampShare) * seconds;
  for (auto& r : results) {
    all.latencyUs.insert(all.latencyUs.end(), r.latencyUs.begin(), r.latencyUs.end());
    all.completed += r.completed;
    all.failures += r.failures;
  }
  return all;
}

void TcpClients::Drive(std::size_t thread, Clock::time_point from, Clock::time_point end,
                       PhaseResult& out) {
  const int ep = epoll_create1(EPOLL_CLOEXEC);
  int outstanding = 0;
  const auto send = [&](Connection& c) {
    c.frame.clear();
    raw::Put32(c.frame, 0);
    c.frame.append(cRequests.For(c.client, c.calls++));
    const auto length = static_cast<uint32_t>(c.frame.size() - 4);
    for (int i = 0; i < 4; ++i)
      c.frame[static_cast<std::size_t>(i)] = static_cast<char>(length >> (8 * i));
    c.sent = Clock::now();
    raw::SendAll(c.fd, c.frame);
    ++outstanding;
  };
  for (std::size_t i = thread; i < vConnections.size(); i += static_cast<std::size_t>(iThreads)) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = i;
    epoll_ctl(ep, EPOLL_CTL_ADD, vConnections[i]->fd, &e);
    send(*vConnections[i]);
  }
  std::vector<char> buffer(64 * 1024);
  epoll_event events[64];
  while (outstanding > 0) {
    if (Clock::now() > end + kDrainLimit) {
      out.failures += outstanding;
      break;
    }
    const int n = epoll_wait(ep, events, 64, 100);
    for (int k = 0; k < n; ++k) {
      Connection& c = *vConnections[events[k].data.u64];
      for (;;) {
        const ssize_t got = recv(c.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got > 0) {
          c.in.append(buffer.data(), static_cast<std::size_t>(got));
          continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
        // The server closed the connection: its call is lost.
        epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
        ++out.failures;
        --outstanding;
        c.in.clear();
        break;
      }
      std::size_t pos = 0;
      while (c.in.size() - pos >= 4) {
        const uint32_t length = raw::Get32(c.in.data() + pos);
        if (c.in.size() - pos - 4 < length) break;
        const std::string_view body(c.in.data() + pos + 4, length);
        pos += 4 + length;
        if (body.empty() || !EndsCall(body[0])) continue;
        const auto now = Clock::now();
        --outstanding;
        ++out.completed;
        if (Failed(body)) ++out.failures;
        if (now <= end) {
          if (now >= from) out.latencyUs.push_back(Us(c.sent, now));
          send(c);
        }
      }
      c.in.erase(0, pos);
    }
  }
  close(ep);
}

// ---- NATS -------------------------------------------------------------------

struct NatsClients::Link {
  NatsClients* owner = nullptr;
  natsConnection* conn = nullptr;
  natsSubscription* sub = nullptr;
  std::string inbox;  // "_SCALE.<set>.<link>."; a client's reply subject adds its number
  PhaseResult result;
  Clock::time_point from, end;
};

NatsClients::NatsClients(const std::string& url, const std::string& broker,
                         const std::string& serviceCode, int clients, int connections,
                         const Requests& requests)
    : cRequests(requests),
      sSubject(broker + "." + serviceCode),
      iClients(clients),
      vSent(static_cast<std::size_t>(clients)),
      vCalls(static_cast<std::size_t>(clients), 0) {
  // Reply subjects of their own: another set of clients may be connected to
  // the same server.
  static std::atomic<int> sets{0};
  const int set = sets.fetch_add(1);
  for (int i = 0; i < connections; ++i) {
    auto link = std::make_unique<Link>();
    link->owner = this;
    link->inbox = "_SCALE." + std::to_string(set) + "." + std::to_string(i) + ".";
    natsOptions* o = nullptr;
    natsOptions_Create(&o);
    natsOptions_SetURL(o, url.c_str());
    natsOptions_SetSendAsap(o, true);
    const natsStatus s = natsConnection_Connect(&link->conn, o);
    natsOptions_Destroy(o);
    if (s != NATS_OK ||
        natsConnection_Subscribe(&link->sub, link->conn, (link->inbox + "*").c_str(), OnReply,
                                 link.get()) != NATS_OK ||
        natsConnection_Flush(link->conn) != NATS_OK) {
      bConnected = false;
    }
    vLinks.push_back(std::move(link));
    if (!bConnected) return;
  }
}

NatsClients::~NatsClients() {
  for (auto& link : vLinks) {
    if (link->sub) natsSubscription_Destroy(link->sub);
    if (link->conn) natsConnection_Destroy(link->conn);
  }
}

void NatsClients::Send(Link& link, std::size_t client) {
  const std::string& body = cRequests.For(client, vCalls[client]++);
  const std::string reply = link.inbox + std::to_string(client);
  vSent[client] = Clock::now();
  iOutstanding.fetch_add(1);
  if (natsConnection_PublishRequest(link.conn, sSubject.c_str(), reply.c_str(), body.data(),
                                    static_cast<int>(body.size())) != NATS_OK) {
    iOutstanding.fetch_sub(1);
    ++link.result.failures;
  }
}

void NatsClients::OnReply(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
  Link& link = *static_cast<Link*>(closure);
  NatsClients& self = *link.owner;
  const auto now = Clock::now();
  const std::string_view subject = natsMsg_GetSubject(msg);
  const std::size_t client = std::stoul(std::string(subject.substr(link.inbox.size())));
  const std::string_view body(natsMsg_GetData(msg),
                              static_cast<std::size_t>(natsMsg_GetDataLength(msg)));
  if (!body.empty() && EndsCall(body[0]) && client < self.vSent.size()) {
    ++link.result.completed;
    if (Failed(body)) ++link.result.failures;
    if (now <= link.end && !self.bStopping.load()) {
      if (now >= link.from) link.result.latencyUs.push_back(Us(self.vSent[client], now));
      self.Send(link, client);
    }
    self.iOutstanding.fetch_sub(1);
  }
  natsMsg_Destroy(msg);
}

PhaseResult NatsClients::Run(double seconds) {
  const auto start = Clock::now();
  const auto end = start + Seconds(seconds);
  bStopping = false;
  for (auto& link : vLinks) {
    link->result = {};
    link->from = start + Seconds(kRampShare * seconds);
    link->end = end;
  }
  for (int i = 0; i < iClients; ++i) {
    Link& link = *vLinks[static_cast<std::size_t>(i) % vLinks.size()];
    Send(link, static_cast<std::size_t>(i));
  }
  std::this_thread::sleep_until(end);
  bStopping = true;
  while (iOutstanding.load() > 0 && Clock::now() < end + kDrainLimit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  PhaseResult all;
  all.seconds = (1 - kRampShare) * seconds;
  all.failures = iOutstanding.exchange(0);
  for (auto& link : vLinks) {
    all.latencyUs.insert(all.latencyUs.end(), link->result.latencyUs.begin(),
                         link->result.latencyUs.end());
    all.completed += link->result.completed;
    all.failures += link->result.failures;
  }
  return all;
}

}  // namespace scale
