#pragma once

#include <cstdint>
#include <span>

// The shared actions every business window inherits and the button images
// that show them. Actions carry no caption: each image carries its own label.
namespace MBaseWindow {

// The one list of the shared actions, in the order of the base window's
// action list: an X-macro that applies its argument to every action as
// A(NAME, image index, label). The binding of the base window's members and
// the action list come from it; the members are declared in an order of their
// own (MPAY_SHARED_ACTION_MEMBERS, below). List order is part of the window's
// layout: derived windows and the host may address actions by their index
// in the list.
#define MPAY_SHARED_ACTIONS(A)        \
  A(actQuery, 2, "查询")              \
  A(actCommit, 22, "提交")            \
  A(actClose, 9, "关闭")              \
  A(actPrev, 20, "上一条")            \
  A(actNext, 27, "下一条")            \
  A(actAdd, 33, "增加")               \
  A(actModify, 30, "修改")            \
  A(actDelete, 18, "删除")            \
  A(actClear, 15, "清除")             \
  A(actPrint, 4, "打印")              \
  A(actHelp, 1, "帮助")               \
  A(actOK, 17, "确定")                \
  A(actCancel, 16, "取消")            \
  A(actSeleNub, 31, "选号")           \
  A(actSeleSim, 32, "选卡")           \
  A(actReport, 23, "报表")            \
  A(actSaveAs, 13, "另存为")          \
  A(actPay, 11, "缴费")               \
  A(actUnpay, 3, "返销")              \
  A(actAdjust, 6, "调账")             \
  A(actDrawBack, 25, "退费")          \
  A(actInvoice, 7, "发票")            \
  A(actDiscount, 10, "优惠")          \
  A(actSetPrintCol, 21, "打印列设置") \
  A(actPrePage, 19, "上一页")         \
  A(actNextPage, 26, "下一页")        \
  A(actAcctLock, 34, "帐户锁定")      \
  A(actAcctUnLock, 0, "帐户解锁")     \
  A(actItemDetail, 12, "帐目明细")    \
  A(actLogin, 5, "登录")              \
  A(actExit, 24, "退出")              \
  A(actScout, 8, "追踪")              \
  A(actNewCust, 28, "新建客户")       \
  A(actNewAcct, 29, "新建帐户")       \
  A(actRetDeposit, 35, "退押金")      \
  A(actSort, 36, "排序")              \
  A(actForceEnd, 48, "强制结束")      \
  A(actDetail, 47, "详细信息")        \
  A(actRePrint, 49, "重打")           \
  A(actPreview, 38, "预览")           \
  A(actAssign, 39, "分配")            \
  A(actRecycle, 42, "回收")           \
  A(actActive, 41, "激活")            \
  A(actDiscard, 43, "作废")           \
  A(actPattComp, 40, "模式比较")      \
  A(actBind, 37, "绑定")              \
  A(actBookDetail, 46, "帐本明细")    \
  A(actFeeDetail, 44, "费用明细")     \
  A(actPrintDetail, 45, "打印明细")   \
  A(actReOpen, 50, "重新开通")        \
  A(actForceOpen, 51, "强制开通")     \
  A(actWholesale, 52, "批发")         \
  A(actPurchaser, 53, "购买人")       \
  A(actAbort, 54, "中止")             \
  A(actRetry, 58, "重试")             \
  A(actNeglect, 61, "忽略")           \
  A(actUnBind, 55, "解除绑定")        \
  A(actModiPass, 56, "修改密码")      \
  A(actAutho, 59, "授权")             \
  A(actUnAutho, 57, "取消授权")       \
  A(actUnNew, 60, "撤销新建")         \
  A(actImport, 62, "导入")            \
  A(actService, 63, "服务")           \
  A(actAllot, 64, "调拨")             \
  A(actDelay, 65, "延期")             \
  A(actLock, 66, "锁定")              \
  A(actReSet, 67, "重置")             \
  A(actTellLose, 68, "挂失")          \
  A(actUnLock, 69, "解锁")            \
  A(actOperLock, 70, "操作员锁定")    \
  A(actConfig, 71, "配置")            \
  A(actReSetRes, 72, "资源重置")      \
  A(actToTrophy, 73, "兑换奖品")

// The same actions in the order the base window declares its members, which
// differs from the list order: D(NAME). The class is exported, so its layout
// follows this order. A name missing here fails to build where the members
// are bound; a name twice, where they are declared; one too many, below.
#define MPAY_SHARED_ACTION_MEMBERS(D) \
  D(actHelp)                          \
  D(actAdd)                           \
  D(actCancel)                        \
  D(actOK)                            \
  D(actDelete)                        \
  D(actClear)                         \
  D(actModify)                        \
  D(actQuery)                         \
  D(actPrev)                          \
  D(actNext)                          \
  D(actCommit)                        \
  D(actClose)                         \
  D(actSeleNub)                       \
  D(actSeleSim)                       \
  D(actSaveAs)                        \
  D(actReport)                        \
  D(actDrawBack)                      \
  D(actUnpay)                         \
  D(actAdjust)                        \
  D(actInvoice)                       \
  D(actDiscount)                      \
  D(actPay)                           \
  D(actSetPrintCol)                   \
  D(actPrePage)                       \
  D(actNextPage)                      \
  D(actAcctLock)                      \
  D(actAcctUnLock)                    \
  D(actLogin)                         \
  D(actExit)                          \
  D(actItemDetail)                    \
  D(actScout)                         \
  D(actNewCust)                       \
  D(actNewAcct)                       \
  D(actRetDeposit)                    \
  D(actSort)                          \
  D(actForceEnd)                      \
  D(actDetail)                        \
  D(actRePrint)                       \
  D(actPreview)                       \
  D(actAssign)                        \
  D(actBind)                          \
  D(actPattComp)                      \
  D(actActive)                        \
  D(actDiscard)                       \
  D(actRecycle)                       \
  D(actFeeDetail)                     \
  D(actBookDetail)                    \
  D(actPrintDetail)                   \
  D(actReOpen)                        \
  D(actForceOpen)                     \
  D(actWholesale)                     \
  D(actPurchaser)                     \
  D(actAbort)                         \
  D(actRetry)                         \
  D(actNeglect)                       \
  D(actUnBind)                        \
  D(actModiPass)                      \
  D(actAutho)                         \
  D(actUnAutho)                       \
  D(actUnNew)                         \
  D(actImport)                        \
  D(actService)                       \
  D(actAllot)                         \
  D(actDelay)                         \
  D(actLock)                          \
  D(actReSet)                         \
  D(actTellLose)                      \
  D(actUnLock)                        \
  D(actOperLock)                      \
  D(actPrint)                         \
  D(actConfig)                        \
  D(actReSetRes)                      \
  D(actToTrophy)

struct SSharedAction {
  const char* name;   // component name, e.g. "actQuery"
  int imageIndex;     // index in the button image list
  const char* label;  // what the button image says (GBK)
};

#define MPAY_SHARED_ACTION_COUNT_(NAME, IMAGE, LABEL) +1
inline constexpr int kSharedActionCount = 0 MPAY_SHARED_ACTIONS(MPAY_SHARED_ACTION_COUNT_);
#undef MPAY_SHARED_ACTION_COUNT_
#define MPAY_SHARED_ACTION_MEMBER_COUNT_(NAME) +1
static_assert(0 MPAY_SHARED_ACTION_MEMBERS(MPAY_SHARED_ACTION_MEMBER_COUNT_) == kSharedActionCount,
              "every shared action is declared once as a member");
#undef MPAY_SHARED_ACTION_MEMBER_COUNT_

// The actions in the order of the base window's action list.
std::span<const SSharedAction, kSharedActionCount> SharedActions();

// The action at `name`, or null when no shared action has that name.
const SSharedAction* FindSharedAction(const char* name);

// Button images: 210 x 27 pixels on one background colour (a form colour
// value, 0x00BBGGRR). Index 14 belongs to no action and stays blank.
inline constexpr int kButtonImageCount = 74;
inline constexpr int kButtonImageWidth = 210;
inline constexpr int kButtonImageHeight = 27;
inline constexpr uint32_t kButtonImageBackground = 15851989;
inline constexpr int kUnusedButtonImage = 14;

// The label drawn on image `index`: the label of the action that uses it,
// or an empty text for the unused image and for indexes out of range.
const char* ButtonImageLabel(int index);

// The base window's colour and its hint window (0x00BBGGRR). The hint
// window is found by its component name, never kept in a member.
inline constexpr uint32_t kBaseWindowColor = 16766925;
inline constexpr uint32_t kHintWindowColor = 16775921;
inline constexpr const char* kHintWindowName = "HCN76F2E4C7A4954525905AE433DE29E7FD";

}  // namespace MBaseWindow
