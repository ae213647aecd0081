#pragma once

#define LEDGERKIT_API __attribute__((visibility("default")))

// The account helper library's entry object. The business windows construct
// one during start-up, initialise it and drop it; it holds no resource and
// has no effect outside itself.
class LEDGERKIT_API CLedgerKit {
 public:
  CLedgerKit();
  ~CLedgerKit();
  CLedgerKit(const CLedgerKit&) = delete;
  CLedgerKit& operator=(const CLedgerKit&) = delete;

  // Keeps the account context (region, county, organisation, operator and
  // channel). Always 0.
  int Initialize(int region, int county, int org, int op, int channel);
  bool IsInitialized() const { return bInitialized; }

 private:
  int iRegion = 0, iCounty = 0, iOrg = 0, iOp = 0, iChannel = 0;
  bool bInitialized = false;
};
