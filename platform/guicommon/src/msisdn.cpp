#include <cstring>

#include "guicommon/guicommon.h"

bool CheckMsisdn(const char* msisdn) {
  if (!msisdn || std::strlen(msisdn) != 11) return false;
  if (msisdn[0] != '1' || msisdn[1] < '3' || msisdn[1] > '9') return false;
  for (int i = 2; i < 11; ++i)
    if (msisdn[i] < '0' || msisdn[i] > '9') return false;
  return true;
}
