#include "ledgerkit/ledger_kit.h"

CLedgerKit::CLedgerKit() = default;

CLedgerKit::~CLedgerKit() = default;

int CLedgerKit::Initialize(int region, int county, int org, int op, int channel) {
  iRegion = region;
  iCounty = county;
  iOrg = org;
  iOp = op;
  iChannel = channel;
  bInitialized = true;
  return 0;
}
