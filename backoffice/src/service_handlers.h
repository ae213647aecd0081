#pragma once

// The back office's pipeline and its handlers share these; nothing else does.

#include <memory>

#include "backoffice/authenticator.h"
#include "backoffice/db_error.h"
#include "backoffice/log.h"
#include "backoffice/service.h"
#include "backoffice/store.h"
#include "tmclient/tmb_stream.h"

namespace backoffice {

// What one request at a time works with: a read connection, and the buffers
// of its last reply, kept so that the next large reply reuses their memory.
struct Service::Worker {
  explicit Worker(Store& store) : pReader(store.OpenReader()) {}
  std::unique_ptr<StoreReader> pReader;
  tmb_stream scratch;  // one part of a streamed reply
};

// Holds one worker for the length of a request. When every worker is busy
// another one is opened: the endpoints' threads bound how many requests run
// at once, and a request waiting for a slow client holds its worker.
class Service::Lease {
 public:
  explicit Lease(Service& s) : cService(s) {
    std::unique_lock lock(cService.mLock);
    if (!cService.vFree.empty()) {
      pWorker = cService.vFree.back();
      cService.vFree.pop_back();
      return;
    }
    lock.unlock();
    auto added = std::make_unique<Worker>(*cService.pStore);  // may throw DbError
    lock.lock();
    pWorker = added.get();
    cService.vWorkers.push_back(std::move(added));
  }
  ~Lease() {
    std::lock_guard lock(cService.mLock);
    cService.vFree.push_back(pWorker);
  }
  StoreReader& operator*() { return *pWorker->pReader; }
  tmb_stream& scratch() { return pWorker->scratch; }

 private:
  Service& cService;
  Worker* pWorker;
};

// Runs one step of the authenticator; a database failure is answered as such.
template <class Step>
int AuthStep(const char* what, Step step) {
  try {
    return step();
  } catch (const DbError& e) {
    log::Write(log::Level::kError, "auth_failed", {{"step", what}, {"reason", e.what()}});
    return kRcDatabase;
  }
}

// The verified caller, into the audit entry.
void NameCaller(AuditEntry& e, const Caller& caller);

// Every operation of the catalogue has its handler (service_handlers.cpp);
// one without fails to link.
#define MPAY_RUN_DECLARATION_(ID, ...)                                       \
  template <>                                                                \
  Status Service::Run<operations::Id::ID>(                                   \
      RequestContext & context, operations::Inputs<operations::Id::ID> & in, \
      operations::Outputs<operations::Id::ID> & out, std::string & reply,    \
      tmclient::ReplyWriter & writer, bool& replied);
MPAY_OPERATIONS(MPAY_RUN_DECLARATION_)
#undef MPAY_RUN_DECLARATION_

}  // namespace backoffice
