#pragma once

namespace toolkit_detail {

// Installs the live wait as the broker client's wait hook; whether a call
// waits in it now.
void InstallLiveWait();
bool LiveWaitWaiting();

}  // namespace toolkit_detail
