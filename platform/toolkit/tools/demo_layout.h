#pragma once

#include "toolkit/layout.h"

// The demo query window: query conditions over a result list and an exit
// button, laid out as a business window lays them out. The render demo shows
// it; the toolkit tests build it.
//
// The layout names the form "frmDemoQuery" and sets its caption only: the
// window's size, colour and style are left to the form class. Items, in this
// order: grbQryConds (aligned top), chkSono, edtSono (max. 15 characters),
// chkBusiType, cmbBusiType, chkSoDate, dtpBeginDate, dtpBeginTime,
// chkMobilno, edtMobilno, chkQryUser, btnQuery, grbShow (aligned client) with
// the list view lvstShow, pnlBottom (aligned bottom) with BtnExit. A form
// class reading it publishes two handlers: "chkSonoClick" (OnClick of
// chkSono) and "OnEditKeyPress" (OnKeyPress of edtSono).
const TFormLayout& DemoQueryLayout();
